// The log page and its line model: following the log by id across its 5000-line wrap,
// the host filter and its fall-back, the drawing by category, copy, export, mail and the
// details of a line.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "alerts/TAlerts.h"
#include "common/SystemInfo.h"
#include "core/MonitorFixture.h"
#include "core/THost.h"
#include "core/TEventLog.h"
#include "ui/TLogLineDelegate.h"
#include "ui/TLogLineModel.h"
#include "ui/TLogListView.h"
#include "ui/TLogView.h"
#include "ui/TfrmQuickMsg.h"

namespace {

std::string Entry(const std::string& host, const std::string& message, char category) {
  return "Dec 8, 02:05p\t" + host + "\t" + message + "\t" + category;
}

std::vector<std::int64_t> RowIDs(const TLogLineModel& model) {
  std::vector<std::int64_t> ids;
  for (int r = 0; r < model.rowCount(); ++r) ids.push_back(model.index(r).data(TLogLineModel::IDRole).toLongLong());
  return ids;
}

std::vector<std::string> Rows(const TLogLineModel& model) {
  std::vector<std::string> rows;
  for (int r = 0; r < model.rowCount(); ++r) rows.push_back(model.Line(r));
  return rows;
}

}  // namespace

// Lines arrive in batches of every size across the log's wrap at 5000; each shows once,
// in order, and a filtered list keeps a rare host's line even when thousands of others
// follow it within one turn of the event loop.
TEST(LogLineModel, FollowsTheLogByIdAcrossItsWrap) {
  TEventLog log;
  TLogLineModel all(log, TLogLineModel::PageLines);
  TLogLineModel onlyB(log, TLogLineModel::PageLines);
  // A filter is chosen among the hosts the log names.
  std::vector<std::int64_t> bIDs{log.Append(Entry("b (2.2.2.2)", "0", 'T'))};
  onlyB.SetHostFilter("b (2.2.2.2)");
  int n = 1;
  for (int batch : {4989, 1, 7, 300, 2600, 1200}) {
    for (int i = 0; i < batch; ++i, ++n) {
      const bool b = n % 3 == 0;
      const std::int64_t id = log.Append(Entry(b ? "b (2.2.2.2)" : "a (1.1.1.1)", std::to_string(n), 'T'));
      if (b) bIDs.push_back(id);
    }
    all.Sync();
    onlyB.Sync();
    const std::vector<std::int64_t> ids = RowIDs(all);
    ASSERT_EQ(ids.size(), std::min<std::size_t>(n, 1000)) << "after " << n;
    for (std::size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(ids[i], log.LastID() - static_cast<std::int64_t>(ids.size() - 1 - i));
    const std::vector<std::int64_t> expectB(bIDs.end() - std::min<std::ptrdiff_t>(1000, bIDs.size()), bIDs.end());
    ASSERT_EQ(RowIDs(onlyB), expectB) << "after " << n;
  }
  EXPECT_EQ(log.Count(), TEventLog::MaxLines);

  // One line of a rare host, then more than the log holds, announced line by line with
  // no turn of the event loop in between.
  TLogLineModel rare(log, TLogLineModel::PaneLines);
  rare.SetFixedHost("rare (3.3.3.3)");
  rare.LineAdded(log.Append(Entry("rare (3.3.3.3)", "once", 'E')));
  for (int i = 0; i < 6000; ++i) rare.LineAdded(log.Append(Entry("a (1.1.1.1)", "x", 'I')));
  QCoreApplication::processEvents();
  ASSERT_EQ(rare.rowCount(), 1);
  EXPECT_EQ(rare.Line(0), Entry("rare (3.3.3.3)", "once", 'E'));
  EXPECT_FALSE(rare.HasHost("rare (3.3.3.3)"));  // gone from the log, kept by the fixed list
  EXPECT_EQ(rare.HostFilter(), "rare (3.3.3.3)");
  EXPECT_EQ(rare.LastSeenID(), log.LastID());
}

TEST(LogLineModel, ParsesFieldsOfOddLines) {
  struct Case {
    std::string line, time, host, message;
    char category;
  } cases[] = {
      {"t\th\tm\tE", "t", "h", "m", 'E'},
      {"t\th\tm\twith\ttabs\tW", "t", "h", "m\twith\ttabs", 'W'},
      {"t\th\tm\tXY", "t", "h", "m\tXY", 0},  // no letter: nothing of the text hidden
      {"t\th\tm", "t", "h", "m", 0},
      {"t\th", "t", "h", "", 0},
      {"just text", "", "", "just text", 0},
      {"", "", "", "", 0},
  };
  for (const Case& c : cases) {
    const TLogEntryFields f = TLogEntryFields::Parse(c.line);
    EXPECT_EQ(f.Time, c.time) << c.line;
    EXPECT_EQ(f.Host, c.host) << c.line;
    EXPECT_EQ(f.Message, c.message) << c.line;
    EXPECT_EQ(f.Category, c.category) << c.line;
  }
  EXPECT_FALSE(TLogEntryFields::Parse("t\t---\tm\tE").HasHost());
  EXPECT_EQ(TLogListView::DetailsText("Dec 8, 02:05p\tweb (10.0.0.1:80)\tError State: refused\tE"),
            "Time: Dec 8, 02:05p\r\nHost: web (10.0.0.1:80)\r\nCategory: E\r\n\r\nError State: refused");
  EXPECT_EQ(TLogListView::DetailsText("garbage"), "Time: \r\nHost: \r\nCategory: \r\n\r\ngarbage");
}

// The pane of one host: at most 250 lines; a selected line other than the last stays
// selected as lines arrive and old ones leave, a selected last line follows the end.
TEST(LogListView, KeepsOrFollowsTheSelection) {
  TEventLog log;
  TLogLineModel model(log, TLogLineModel::PaneLines);
  for (int i = 0; i < 300; ++i) log.Append(Entry("h (1.1.1.1)", std::to_string(i), 'T'));
  model.SetFixedHost("h (1.1.1.1)");
  TLogListView view;
  view.SetLogModel(&model);
  ASSERT_EQ(model.rowCount(), 250);
  ASSERT_EQ(view.SelectedLines(), std::vector<std::string>{Entry("h (1.1.1.1)", "299", 'T')});

  log.Append(Entry("h (1.1.1.1)", "300", 'T'));
  log.Append(Entry("other (2.2.2.2)", "x", 'E'));
  model.Sync();
  EXPECT_EQ(view.SelectedLines(), std::vector<std::string>{Entry("h (1.1.1.1)", "300", 'T')});
  EXPECT_EQ(view.currentIndex().row(), 249);

  view.setCurrentIndex(model.index(100));  // "151"
  for (int i = 301; i < 311; ++i) log.Append(Entry("h (1.1.1.1)", std::to_string(i), 'T'));
  model.Sync();
  EXPECT_EQ(model.rowCount(), 250);
  EXPECT_EQ(view.SelectedLines(), std::vector<std::string>{Entry("h (1.1.1.1)", "151", 'T')});
  EXPECT_EQ(view.currentIndex().row(), 90);
}

class LogView : public MonitorFixture {
protected:
  void SetUp() override {
    M = NewMonitor();
    View = std::make_unique<TLogView>(*M);
  }
  void TearDown() override {
    View.reset();
    if (A) {
      A->FreePendingAlerts();
      M->SetAlertChannels(nullptr);
      A.reset();
    }
  }

  THost* AddHost(const std::string& name, const std::string& address) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = address;
    return M->InsertHost(M->Hosts().Count(), std::move(record));
  }
  QStringList FilterItems() const {
    QStringList items;
    for (int i = 0; i < View->cbLogFilter->count(); ++i) items << View->cbLogFilter->itemText(i);
    return items;
  }
  void Settle() { QCoreApplication::processEvents(); }

  std::unique_ptr<TMonitor> M;
  std::unique_ptr<TLogView> View;
  std::unique_ptr<TAlerts> A;
};

// The filter lists the hosts the log names, sorted; a chosen host's newest 1000 lines
// show; when its last line leaves the log the page falls back to "(All Hosts)".
TEST_F(LogView, HostFilterAndItsFallBack) {
  THost* zeta = AddHost("zeta", "10.0.0.9");
  THost* alpha = AddHost("Alpha", "10.0.0.1");
  THost* never = AddHost("never", "10.0.0.5");
  for (int i = 0; i < 1500; ++i) M->LogEvent(zeta, "z" + std::to_string(i), TLogCategory::Test);
  M->LogEvent(alpha, "a", TLogCategory::Error);
  M->LogEvent(nullptr, "no host", TLogCategory::Program);
  Settle();
  EXPECT_EQ(FilterItems(), QStringList({"(All Hosts)", "Alpha (10.0.0.1)", "zeta (10.0.0.9)"}));
  EXPECT_EQ(View->cbLogFilter->currentIndex(), 0);
  EXPECT_EQ(View->Model().rowCount(), 1000);

  EXPECT_FALSE(View->ShowHost(LogLabel(*never)));
  EXPECT_EQ(View->FilterHost(), "");

  ASSERT_TRUE(View->ShowHost(LogLabel(*zeta)));
  EXPECT_EQ(View->cbLogFilter->currentText(), "zeta (10.0.0.9)");
  ASSERT_EQ(View->Model().rowCount(), 1000);
  EXPECT_NE(View->Model().Line(0).find("\tz500\t"), std::string::npos);
  EXPECT_NE(View->Model().Line(999).find("\tz1499\t"), std::string::npos);
  // The newest line is selected, and new lines of the host keep it at the end.
  M->LogEvent(alpha, "not shown", TLogCategory::Information);
  M->LogEvent(zeta, "newest", TLogCategory::Okay);
  Settle();
  EXPECT_EQ(View->Model().rowCount(), 1000);
  ASSERT_EQ(View->lbLog->SelectedLines().size(), 1u);
  EXPECT_NE(View->lbLog->SelectedLines()[0].find("\tnewest\t"), std::string::npos);

  // Choosing from the list refills by it.
  View->cbLogFilter->setCurrentIndex(1);
  View->cbLogFilterClick();
  EXPECT_EQ(Rows(View->Model()).size(), 2u);
  ASSERT_TRUE(View->ShowHost(LogLabel(*zeta)));

  // Alpha's lines and then zeta's leave the log.
  for (int i = 0; i < 5000; ++i) M->LogEvent(never, "n", TLogCategory::Information);
  Settle();
  EXPECT_EQ(FilterItems(), QStringList({"(All Hosts)", "never (10.0.0.5)"}));
  EXPECT_EQ(View->cbLogFilter->currentIndex(), 0);
  EXPECT_EQ(View->FilterHost(), "");
  EXPECT_EQ(View->Model().rowCount(), 1000);
  EXPECT_NE(View->Model().Line(999).find("never (10.0.0.5)"), std::string::npos);
}

// Colours by category, the bars of a host's errors, warnings and recoveries, and the
// selected line's background, as painted.
TEST(LogLineDelegate, ColoursByCategory) {
  const std::pair<char, QColor> text[] = {
      {'E', {255, 0, 0}},   {'W', {255, 63, 0}}, {'Z', {0, 0, 255}},  {'I', {0, 0, 255}}, {'M', {175, 79, 0}},
      {'A', {255, 0, 255}}, {'C', {128, 0, 128}}, {'P', {0, 0, 128}}, {'T', {128, 0, 0}},
  };
  for (const auto& [category, colour] : text) EXPECT_EQ(TLogLineDelegate::CategoryColour(category), colour) << category;
  EXPECT_FALSE(TLogLineDelegate::CategoryColour('O').isValid());
  EXPECT_FALSE(TLogLineDelegate::CategoryColour('x').isValid());
  EXPECT_EQ(TLogLineDelegate::BarColour('E', true), QColor(255, 0, 0));
  EXPECT_EQ(TLogLineDelegate::BarColour('W', true), QColor(255, 255, 0));
  EXPECT_EQ(TLogLineDelegate::BarColour('O', true), QColor(0, 255, 0));
  EXPECT_FALSE(TLogLineDelegate::BarColour('E', false).isValid());
  EXPECT_FALSE(TLogLineDelegate::BarColour('I', true).isValid());
  // Faint at the edges (nine tenths background), strongest in the middle, symmetric.
  const QColor white(255, 255, 255), red(255, 0, 0);
  EXPECT_EQ(TLogLineDelegate::BarPixel(red, white, 0, 16), QColor(255, 229, 229));
  for (int y = 0; y < 16; ++y) {
    const int g = TLogLineDelegate::BarPixel(red, white, y, 16).green();
    EXPECT_EQ(g, TLogLineDelegate::BarPixel(red, white, 15 - y, 16).green()) << y;
    if (y > 0 && y < 8) {
      EXPECT_LT(g, TLogLineDelegate::BarPixel(red, white, y - 1, 16).green()) << y;
    }
  }
  EXPECT_EQ(TLogLineDelegate::BarPixel(red, white, 7, 16).red(), 255);

  TEventLog log;
  TLogLineModel model(log, 10);
  log.Append(Entry("h (1.1.1.1)", "bar", 'E'));
  log.Append(Entry("---", "plain", 'W'));
  log.Append(Entry("---", "default", 'O'));
  model.Refill();
  TLogLineDelegate delegate;
  struct Case {
    int row;
    bool selected;
    QColor background;  // far right of the line, past the text
    QColor text;        // some pixel of the text has it
  };
  QPalette palette;
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  palette.setColor(QPalette::Highlight, QColor(0, 0, 200));
  palette.setColor(QPalette::HighlightedText, QColor(0, 255, 255));
  const Case cases[] = {
      {0, false, TLogLineDelegate::BarPixel(red, Qt::white, 9, 18), Qt::black},
      // The bars are pale: a selected bar line keeps its dark text, framed in the highlight.
      {0, true, TLogLineDelegate::BarPixel(red, Qt::white, 9, 18), Qt::black},
      {1, false, Qt::white, QColor(255, 63, 0)},
      {1, true, QColor(255, 63, 0), QColor(0, 255, 255)},
      {2, false, Qt::white, Qt::black},
      {2, true, QColor(0, 0, 200), QColor(0, 255, 255)},
  };
  for (const Case& c : cases) {
    QImage image(600, 18, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.palette = palette;
    option.font.setPixelSize(12);
    option.font.setStyleStrategy(QFont::NoAntialias);
    option.fontMetrics = QFontMetrics(option.font);
    option.state = c.selected ? QStyle::State_Selected : QStyle::State_None;
    {
      QPainter painter(&image);
      delegate.paint(&painter, option, model.index(c.row));
    }
    EXPECT_EQ(image.pixelColor(590, 9), c.background) << c.row << c.selected;
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < TLogLineDelegate::MessageLeft + 60; ++x) colours.insert(image.pixel(x, y));
    EXPECT_TRUE(colours.count(c.text.rgb())) << c.row << c.selected;
    const bool framed = c.row == 0 && c.selected;
    EXPECT_EQ(image.pixelColor(590, 0) == QColor(0, 0, 200), framed || (c.row == 2 && c.selected)) << c.row;
    if (framed) {
      EXPECT_FALSE(colours.count(QColor(0, 255, 255).rgb())) << "no pale text on the bar";
    }
  }
}

// Both log lists are drawn on the list colour, as the host list.
TEST(LogLineDelegate, ListsUseTheListColour) {
  TLogListView view;
  EXPECT_EQ(view.palette().color(QPalette::Base), QColor(255, 250, 239));
}

// Copy, export and mail take the selected lines of what the filter shows.
TEST_F(LogView, CopyExportAndMailTheSelection) {
  THost* web = AddHost("web", "10.0.0.1");
  THost* db = AddHost("db", "10.0.0.2");
  web->OfflineRecipients = "ops@example.net; boss@example.net;";
  web->OnlineRecipients = " ops@example.net ";
  db->OfflineRecipients = " ; night@example.net";
  M->LogEvent(web, "caf\xe9 down", TLogCategory::Error);
  M->LogEvent(db, "db line", TLogCategory::Warning);
  M->LogEvent(web, "up again", TLogCategory::Okay);
  Settle();
  ASSERT_TRUE(View->ShowHost(LogLabel(*web)));

  // The menu's items follow the selection.
  View->lbLog->clearSelection();
  for (QAction* a : View->pmLog->actions()) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
  View->lbLog->selectAll();
  for (QAction* a : View->pmLog->actions()) EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();

  const std::string first = M->Log().Lines()[M->Log().Count() - 3].Text;
  const std::string third = M->Log().Lines()[M->Log().Count() - 1].Text;
  View->CopyClick();
  EXPECT_EQ(QApplication::clipboard()->text(), QString::fromLatin1(first + "\n" + third + "\n"));

  const std::string file = FRoot.Path() + "/export.txt";
  EXPECT_EQ(View->ExportToFile(QString::fromStdString(file)), "");
  QFile written(QString::fromStdString(file));
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll().toStdString(), first + "\r\n" + third + "\r\n");
  EXPECT_NE(View->ExportToFile(QString::fromStdString(FRoot.Path() + "/missing/dir/x.txt")), "");

  A = std::make_unique<TAlerts>(*M);
  M->SetAlertChannels(A.get());
  TAlertQueue& queue = A->Queue();
  TLogMail mail = View->MailForSelection();
  EXPECT_EQ(mail.Recipients, (std::vector<std::string>{"ops@example.net", "boss@example.net", "night@example.net"}));
  EXPECT_EQ(mail.Recipient, "");
  EXPECT_EQ(mail.Subject, "Corvale log on " + LocalComputerName());
  EXPECT_EQ(mail.Body, first + "\r\n" + third + "\r\n");

  std::string error;
  mail.Recipient = "not an address";
  EXPECT_FALSE(View->QueueMail(mail, &error));
  EXPECT_NE(error, "");
  EXPECT_TRUE(queue.Entries().empty());

  // The hand-written message dialog asks; its recipient is the next one's preset.
  QString shownSubject;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<TfrmQuickMsg*>(QApplication::activeModalWidget());
    if (!dialog) return;
    shownSubject = dialog->tbSubj->text();
    dialog->cbRecipient->setEditText("boss@example.net");
    dialog->btnSend->click();
  });
  View->SendClick();
  EXPECT_EQ(shownSubject.toStdString(), mail.Subject);
  ASSERT_EQ(queue.Entries().size(), 1u);
  const TEmailInfo& queued = *queue.Entries()[0];
  EXPECT_EQ(queued.Recipients, "boss@example.net");
  EXPECT_EQ(queued.Subject, mail.Subject);
  EXPECT_EQ(queued.Body, mail.Body);
  EXPECT_EQ(queued.HostID, -1);
  EXPECT_EQ(queued.Priority, 3);
  EXPECT_EQ(View->MailForSelection().Recipient, "boss@example.net");
}
