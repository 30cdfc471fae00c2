#include "ui/TfrmQuickMsg.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

TEST(QuickMsg, SendIsEnabledOnlyForAValidAddressASubjectAndABody) {
  TfrmQuickMsg dialog({"ops@example.test"}, {}, nullptr);
  EXPECT_FALSE(dialog.btnSend->isEnabled());
  EXPECT_EQ(dialog.windowTitle(), "Send Alert Message");
  dialog.cbRecipient->setEditText("ops@example.test");
  dialog.tbSubj->setText("Router");
  EXPECT_FALSE(dialog.btnSend->isEnabled()) << "no body yet";
  dialog.mmoBody->setPlainText("It is down.");
  EXPECT_TRUE(dialog.btnSend->isEnabled());
  struct TCase {
    const char16_t* Recipient;
    bool Enabled;
  } cases[] = {{u"not an address", false}, {u"", false}, {u"Ops Team <ops@example.test>", true},
               {u"op\u0161@example.test", false}, {u"ops@example.test", true}};
  for (const TCase& c : cases) {
    dialog.cbRecipient->setEditText(QString::fromUtf16(c.Recipient));
    EXPECT_EQ(dialog.btnSend->isEnabled(), c.Enabled) << QString::fromUtf16(c.Recipient).toStdString();
  }
  dialog.tbSubj->clear();
  EXPECT_FALSE(dialog.btnSend->isEnabled()) << "no subject";

  // A dialog opened again starts with what was sent last.
  TfrmQuickMsg again({}, {"a@b.test", "S", "B"}, nullptr);
  EXPECT_TRUE(again.btnSend->isEnabled());
  EXPECT_EQ(again.Message().Body, "B");
}

TEST(QuickMsg, RecipientListHoldsEveryDistinctAddressOnce) {
  const QStringList list =
      DistinctRecipients({"a@x.test; b@x.test", "", " B@x.test ;c@x.test;", "a@x.test", " ; "});
  EXPECT_EQ(list, (QStringList{"a@x.test", "b@x.test", "c@x.test"}));
}
