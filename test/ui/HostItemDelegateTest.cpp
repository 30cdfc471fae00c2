// The host list's drawing: the health bar's colours and blend, a real paint of a row into
// an image, the sorted column's tint, and the status pixmaps.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QStyleOptionViewItem>

#include "core/MonitorFixture.h"
#include "core/THost.h"
#include "ui/THostItemDelegate.h"
#include "ui/THostTableModel.h"
#include "ui/TStatusImages.h"

namespace {

struct Rgb {
  int R, G, B;
  bool operator==(const Rgb&) const = default;
};
Rgb Of(QColor c) { return {c.red(), c.green(), c.blue()}; }
std::ostream& operator<<(std::ostream& out, const Rgb& c) { return out << c.R << "," << c.G << "," << c.B; }

TEST(HostItemDelegate, HealthBarSharesBoundariesAndFade) {
  const QColor white(Qt::white);
  // 3 successes, 1 warning of 100 pixels: green to 74, the blended pixel at 75, yellow after.
  // The edge rows are 90 % background, blends truncate.
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(10, 0, 100, 20, 3, 1, 0, white)), (Rgb{229, 255, 229}));
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(74, 19, 100, 20, 3, 1, 0, white)), (Rgb{229, 255, 229}));
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(75, 0, 100, 20, 3, 1, 0, white)), (Rgb{242, 255, 229}));
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(99, 0, 100, 20, 3, 1, 0, white)), (Rgb{255, 255, 229}));
  // An empty warning share: green meets red directly; no results: grey.
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(49, 0, 100, 20, 1, 0, 1, white)), (Rgb{229, 255, 229}));
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(50, 0, 100, 20, 1, 0, 1, white)), (Rgb{242, 242, 229}));
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(51, 0, 100, 20, 1, 0, 1, white)), (Rgb{255, 229, 229}));
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(0, 0, 100, 20, 0, 0, 0, white)), (Rgb{242, 242, 242}));
  // Errors only: no blended pixel at the left edge.
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(0, 0, 100, 20, 0, 0, 5, white)), (Rgb{255, 229, 229}));
  // Strongest in the middle: fraction 0.9 - 0.25 x sqrt(9/10) of background at row 10.
  const Rgb middle = Of(THostItemDelegate::HealthBarPixel(10, 10, 100, 20, 3, 1, 0, white));
  EXPECT_EQ(middle, (Rgb{169, 255, 169}));
  // Cells of no size draw nothing odd.
  EXPECT_EQ(Of(THostItemDelegate::HealthBarPixel(0, 0, 0, 0, 1, 0, 0, white)), (Rgb{242, 242, 242}));
}

class HostItemPaintTest : public MonitorFixture {
protected:
  HostItemPaintTest() : M(NewMonitor()) {}
  std::unique_ptr<TMonitor> M;
  TStatusImages Images;
};

TEST_F(HostItemPaintTest, PaintsBarTintAndOfflineRows) {
  for (const char* name : {"x", ""}) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    THost* host = M->InsertHost(M->Hosts().Count(), std::move(record));
    host->Status = StatusOnline;
    host->Successes = 3;
    host->Warnings = 1;
  }
  THostTableModel model(*M);
  THostItemDelegate delegate(Images);
  const auto paint = [&](int row, int column, int width, QStyle::State state = QStyle::State_Enabled) {
    QImage image(width, 20, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, width, 20);
    option.state = state;
    option.palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    delegate.paint(&painter, option, model.index(row, column));
    painter.end();
    return image;
  };
  // Row 1 lies on white; the bar's middle column right of the icon, edge rows and middle.
  const QImage bar = paint(1, THostTableModel::colHost, 100);
  const Rgb edge = Of(bar.pixelColor(60, 0));
  const Rgb mid = Of(bar.pixelColor(60, 10));
  const Rgb warn = Of(bar.pixelColor(90, 0));
  EXPECT_EQ(edge, (Rgb{229, 255, 229}));
  EXPECT_EQ(mid, (Rgb{169, 255, 169}));
  EXPECT_EQ(warn, (Rgb{255, 255, 229}));
  // Row 0 lies on the list colour.
  EXPECT_EQ(Of(paint(0, THostTableModel::colHost, 100).pixelColor(90, 0)), (Rgb{255, 250, 215}));

  // The sorted column's cells are half silver; the others keep the row colour.
  EXPECT_EQ(Of(paint(1, THostTableModel::colLastCheck, 80).pixelColor(1, 1)), (Rgb{255, 255, 255}));
  model.HeaderClicked(THostTableModel::colLastCheck);
  const int row = model.RowOfHost(M->Hosts().Items(1)->ID);
  EXPECT_EQ(Of(paint(row, THostTableModel::colLastCheck, 80).pixelColor(1, 1)),
            row % 2 ? (Rgb{223, 223, 223}) : (Rgb{223, 221, 215}));

  // A selected Offline host is on red, not the highlight.
  M->Hosts().Items(1)->Status = StatusOffline;
  const QImage selected = paint(row, THostTableModel::colFailures, 80, QStyle::State_Enabled | QStyle::State_Selected);
  EXPECT_EQ(Of(selected.pixelColor(1, 1)), (Rgb{255, 0, 0}));
  // The response graph: slots of 10 ms reach the top at the largest value (at least
  // 10 ms) in blue blended with white; two empty slots leave a gap around x = 44.
  THost& graphed = *M->Hosts().Items(1);
  graphed.ResponseHistory.fill(10);
  graphed.ResponseHistory[10] = graphed.ResponseHistory[11] = -1;
  const QImage graph = paint(row, THostTableModel::colResponse, 80);
  EXPECT_EQ(Of(graph.pixelColor(20, 0)), (Rgb{165, 165, 255}));
  EXPECT_EQ(Of(graph.pixelColor(44, 0)), Of(graph.pixelColor(44, 1)));
  EXPECT_EQ(Of(graph.pixelColor(20, 1)), Of(graph.pixelColor(44, 1)));
  // A row whose host is gone falls back to the default drawing without touching a record.
  const auto gone = M->Hosts().ExtractAll();
  paint(0, THostTableModel::colHost, 100);
}

TEST(StatusImages, PixmapsOfEveryNumberWithTransparentCorners) {
  TStatusImages images;
  ASSERT_EQ(images.Count(), 20);
  for (int n = 0; n < images.Count(); ++n) {
    const QImage small = images.Small(n).toImage();
    const QImage large = images.Large(n).toImage();
    ASSERT_EQ(small.size(), QSize(16, 16)) << n;
    ASSERT_EQ(large.size(), QSize(32, 32)) << n;
    EXPECT_EQ(large.pixelColor(0, 0).alpha(), 0) << n;
    EXPECT_EQ(large.pixelColor(16, 16).alpha(), 255) << n;
  }
  // The parent-down twin differs from its state's picture.
  EXPECT_NE(images.Large(2).toImage(), images.Large(3).toImage());
  EXPECT_TRUE(images.Small(-1).isNull());
  EXPECT_TRUE(images.Large(20).isNull());
}

}  // namespace
