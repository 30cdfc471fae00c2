// The network authorization window against a real Samba server: when it is asked, what
// its boxes show, what a refused attempt says, and the connection it leaves.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "common/ErrorText.h"
#include "platform/NetResources.h"
#include "platform/TNetConnections.h"
#include "platform/TSmbClient.h"
#include "support/TSambaServer.h"
#include "ui/MainThreadWait.h"
#include "ui/TDialogAsk.h"
#include "ui/TfrmNetAuth.h"
#include "ui/WindowFixture.h"

using testsupport::TSambaServer;

namespace {

constexpr const char* User = "corvaleauth";
constexpr const char* Password = "Auth-Pass3";
const std::string Remote = "\\\\127.0.0.1\\files";

class NetAuthTest : public testing::Test {
protected:
  void SetUp() override {
    std::string why;
    if (!TSambaServer::Available(why)) GTEST_SKIP() << why;
    Server.AddShare("files");
    ASSERT_TRUE(Server.Start()) << Server.Error();
    ASSERT_TRUE(Server.AddUser(User, Password)) << Server.Error();
    TSmbClient::SetDefaultPort(Server.Port());
  }
  void TearDown() override { TSmbClient::SetDefaultPort(TSmbClient::StandardPort); }

  TSambaServer Server;
  TDialogAsk Ask;
};

TEST_F(NetAuthTest, MissingCredentialsAreAskedForUntilTheServerTakesThem) {
  struct TSeen {
    QString Caption, Computer, User, Password, Refusal;
    QLineEdit::EchoMode Clear, Masked;
  } seen;
  int asked = 0;
  Ask.DialogAnswer = [&](QDialog& dialog) {
    ++asked;
    auto& auth = dynamic_cast<TfrmNetAuth&>(dialog);
    seen.Caption = auth.windowTitle();
    seen.Computer = auth.tbComputer->text();
    seen.User = auth.tbUsername->currentText();
    seen.Password = auth.tbPassword->text();
    seen.Clear = auth.tbPassword->echoMode();
    auth.tbPassword->setText("wrong");
    seen.Masked = auth.tbPassword->echoMode();
    auth.btnOk->click();
    seen.Refusal = auth.sbStatus->currentMessage();
    if (auth.result() == QDialog::Accepted) return int(QDialog::Accepted);
    auth.tbPassword->setText(Password);
    auth.btnOk->click();
    return auth.result();
  };
  std::string connection;
  // The current credentials (none) come first: the server denies them the share.
  EXPECT_EQ(TfrmNetAuth::ConnectInteractive(nullptr, Ask, Remote, User, "", connection), 0);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(seen.Caption, "Network Authorization");
  EXPECT_EQ(seen.Computer, "127.0.0.1");
  EXPECT_EQ(seen.User, User);
  EXPECT_EQ(seen.Password, "<Default>");
  EXPECT_EQ(seen.Clear, QLineEdit::Normal);
  EXPECT_EQ(seen.Masked, QLineEdit::Password);
  EXPECT_EQ(seen.Refusal.toStdString(), " " + ErrorText(1326));
  EXPECT_EQ(connection, Remote);
  const auto lent = TNetConnections::Instance().CredentialsFor("127.0.0.1");
  ASSERT_TRUE(lent);
  EXPECT_EQ(lent->Password, Password);
  DisconnectResource(connection);
  EXPECT_FALSE(TNetConnections::Instance().CredentialsFor("127.0.0.1"));
  EXPECT_TRUE(Ask.Asked().empty()) << "no warning in the asking form";

  // Cancelled: the last refusal is the answer and nothing stays connected.
  Ask.DialogAnswer = [&](QDialog& dialog) {
    auto& auth = dynamic_cast<TfrmNetAuth&>(dialog);
    EXPECT_EQ(auth.tbUsername->currentText(), "<Default>");
    return int(QDialog::Rejected);
  };
  EXPECT_EQ(TfrmNetAuth::ConnectInteractive(nullptr, Ask, Remote, "", "", connection), 5);
  EXPECT_EQ(connection, "");
}

TEST_F(NetAuthTest, FullCredentialsAreTriedOnceAndARefusalIsWarned) {
  Ask.DialogAnswer = [](QDialog&) -> int {
    ADD_FAILURE() << "nothing to ask";
    return QDialog::Rejected;
  };
  Ask.MessageAnswer = [](TDialogAsk::TKind, const QString&, const QString&) { return int(QMessageBox::Ok); };
  std::string connection = "stale";
  EXPECT_EQ(TfrmNetAuth::ConnectInteractive(nullptr, Ask, Remote, User, "wrong", connection), 1326);
  EXPECT_EQ(connection, "");
  ASSERT_EQ(Ask.Asked().size(), 1u);
  EXPECT_EQ(Ask.Asked()[0].Kind, TDialogAsk::TKind::Warning);
  EXPECT_EQ(Ask.Asked()[0].Text.toStdString(), "Authentication Failure: " + ErrorText(1326));
  EXPECT_EQ(TfrmNetAuth::ConnectInteractive(nullptr, Ask, Remote, User, Password, connection), 0);
  DisconnectResource(connection);
}

class StarredCommand : public WindowFixture {};

TEST_F(StarredCommand, TheWindowConnectsWithTheHostsCredentialsAroundTheStartAndWarnsOfARefusal) {
  std::string why;
  if (!TSambaServer::Available(why)) GTEST_SKIP() << why;
  TSambaServer server;
  server.AddShare("files");
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.AddUser(User, Password)) << server.Error();
  TSmbClient::SetDefaultPort(server.Port());
  THost& host = Add("files", "127.0.0.1", StatusOnline);
  host.WinUserName = User;
  host.WinPassword = "wrong";
  W->Ask().MessageAnswer = [](TDialogAsk::TKind, const QString&, const QString&) { return int(QMessageBox::Ok); };
  EXPECT_TRUE(A->Commands().RunHostCommand("*/bin/true %1", host));
  ASSERT_EQ(W->Ask().Asked().size(), 1u);
  EXPECT_EQ(W->Ask().Asked()[0].Text.toStdString(), "Authentication Failure: " + ErrorText(1326));
  host.WinPassword = Password;
  EXPECT_TRUE(A->Commands().RunHostCommand("*/bin/true", host));
  EXPECT_EQ(W->Ask().Asked().size(), 1u);
  EXPECT_FALSE(TNetConnections::Instance().CredentialsFor("127.0.0.1")) << "disconnected after the start";
  TSmbClient::SetDefaultPort(TSmbClient::StandardPort);
}

TEST(MainThreadWait, TheMainThreadGoesOnWhileTheWorkRunsAndItsErrorComesBack) {
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start(5);
  RunOffMainThread([] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); });
  EXPECT_GE(ticks, 5);
  EXPECT_THROW(RunOffMainThread([] { throw std::runtime_error("no server"); }), std::runtime_error);
}

}  // namespace
