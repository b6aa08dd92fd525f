// SPDX-License-Identifier: GPL-2.0-or-later
// The windows keep the design geometry of their controls, so each design
// text must fit its control in the fonts this program asks for; otherwise
// captions and keys are cut off on screen.
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTextLayout>
#include <cmath>
#include <gtest/gtest.h>

#include "app/monitor.h"
#include "app/qt/qt_front_end.h"

namespace wx {
namespace {

class QtLayoutTest : public ::testing::Test {
 protected:
  Views views;
  RgbImage graph{780, 237};
  WindDial dial;
};

// Text wider than its control, as "name: text width > control width" lines.
std::string Overflows(QWidget* window) {
  std::string out;
  for (QLabel* l : window->findChildren<QLabel*>()) {
    if (l->text().isEmpty() || l->wordWrap()) continue;
    const int need = QFontMetrics(l->font()).horizontalAdvance(l->text());
    if (need > l->width())
      out += l->objectName().toStdString() + ": \"" + l->text().toStdString() + "\" " +
             std::to_string(need) + " > " + std::to_string(l->width()) + "\n";
  }
  return out;
}

TEST_F(QtLayoutTest, NumericWindowTextsFitTheirLabels) {
  QtFrontEnd ui(views, graph, dial);
  QWidget* n = ui.NumericWindow();
  // Bold 13-pixel Arial, or a face with its metrics.
  const QFontInfo info(n->font());
  EXPECT_TRUE(info.bold());
  EXPECT_EQ(info.pixelSize(), 13);
  EXPECT_EQ(Overflows(n), "");
  // The widest temperature caption with the other unit fits as well.
  for (int k = 0; k < 5; ++k) views.numeric.laTxtTture[k].text = "T" + std::to_string(k) + " (C)";
  views.numeric.laTture[0].text = "-12.3";
  views.numeric.laTture[1].text = "105.0";
  ui.Refresh();
  EXPECT_EQ(Overflows(n), "");
}

// The attribution wraps inside laMsgs; where laMsgs lies beside laTOD, its
// lines must end before the time of day begins.
TEST_F(QtLayoutTest, AttributionFitsBesideTheTimeOfDay) {
  QtFrontEnd ui(views, graph, dial);
  QWidget* m = ui.MainWindow();
  auto* msgs = m->findChild<QLabel*>("laMsgs");
  auto* tod = m->findChild<QLabel*>("laTOD");
  ASSERT_TRUE(msgs && tod);
  QTextLayout layout(QString::fromStdString(Monitor::AttributionText()), msgs->font());
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  const int spacing = QFontMetrics(msgs->font()).lineSpacing();
  std::string out;
  layout.beginLayout();
  for (int i = 0;; ++i) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) break;
    line.setLineWidth(msgs->width());
    const int top = msgs->y() + i * spacing, right = msgs->x() + static_cast<int>(std::ceil(line.naturalTextWidth()));
    if (top + spacing > msgs->y() + msgs->height() + 2) out += "line " + std::to_string(i + 1) + " below the label; ";
    if (top + spacing > tod->y() && right > tod->x())
      out += "line " + std::to_string(i + 1) + " runs to x " + std::to_string(right) + " into laTOD; ";
  }
  layout.endLayout();
  EXPECT_EQ(out, "");
}

TEST_F(QtLayoutTest, MainWindowTextsFitTheirControls) {
  QtFrontEnd ui(views, graph, dial);
  QWidget* m = ui.MainWindow();
  views.main.buCorFCaption = "&Show F'heit";
  ui.Refresh();
  EXPECT_EQ(Overflows(m), "");
  std::string out;
  for (QPushButton* b : m->findChildren<QPushButton*>()) {
    QString text = b->text();
    text.remove('&');
    const int need = QFontMetrics(b->font()).horizontalAdvance(text) + 8;  // the frame
    if (need > b->width()) out += b->objectName().toStdString() + " ";
  }
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace wx
