// The chart view: point order, reading back, clearing, tick labels and the
// logarithmic count axis. Runs on Qt's offscreen platform.
#include "Mainform/ChartView.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Mainform/ErrorDisplay.h"
#include "Session/Conversions.h"
#include "tests/qt_test_support.h"
#include "tests/test_support.h"

namespace {

using TPoints = std::vector<std::pair<double, double>>;

TPoints PointsOf(const TChart& chart, int curve) {
  TPoints points;
  for (int i = 0; i < chart.PointCount(curve); ++i) {
    points.emplace_back(chart.PointX(curve, i), chart.PointY(curve, i));
  }
  return points;
}

// Lays the chart out at its design size and draws it once, as a paint would.
QImage Render(TChart& chart) {
  chart.resize(549, 220);
  return chart.toPixmap(549, 220).toImage();
}

}  // namespace

TEST(ChartView, AscendingTimesAppendInOrder) {
  TChart chart(nullptr, "Concentration", "C(t)", TChartScale::Linear, '.');
  EXPECT_EQ(chart.PointCount(0), 0);
  EXPECT_EQ(chart.PointCount(1), 0);
  double t = 0.0;
  for (int k = 1; k <= 5; ++k) {
    t += 0.0001;
    chart.AppendPoint(0, t, 7.2e20);
    chart.AppendPoint(1, t, k * 1e20);
  }
  ASSERT_EQ(chart.PointCount(0), 5);
  ASSERT_EQ(chart.PointCount(1), 5);
  t = 0.0;
  for (int k = 1; k <= 5; ++k) {
    t += 0.0001;  // the running sum, bit for bit
    EXPECT_EQ(chart.PointX(1, k - 1), t);
    EXPECT_EQ(chart.PointY(1, k - 1), k * 1e20);
    EXPECT_EQ(chart.PointY(0, k - 1), 7.2e20);
  }
}

TEST(ChartView, EqualTimesKeepArrivalOrder) {
  TChart chart(nullptr, "Concentration", "C(t)", TChartScale::Linear, '.');
  // A zero time step: every point at the same x.
  for (int k = 0; k < 4; ++k) chart.AppendPoint(1, 0.0, k);
  EXPECT_EQ(PointsOf(chart, 1), (TPoints{{0, 0}, {0, 1}, {0, 2}, {0, 3}}));

  // Middle inserts go behind the stored points with the same x, including
  // an x equal to the first point's (the container alone would put them in front).
  for (double x : {1.0, 2.0, 3.0}) chart.AppendPoint(0, x, x);
  chart.AppendPoint(0, 2.0, 20);
  chart.AppendPoint(0, 2.0, 21);
  chart.AppendPoint(0, 1.0, 10);
  chart.AppendPoint(0, 2.5, 25);
  chart.AppendPoint(0, 0.5, 5);
  chart.AppendPoint(0, 3.0, 30);
  EXPECT_EQ(
      PointsOf(chart, 0),
      (TPoints{{0.5, 5}, {1, 1}, {1, 10}, {2, 2}, {2, 20}, {2, 21}, {2.5, 25}, {3, 3}, {3, 30}}));
}

TEST(ChartView, NegativeTimeStepPrepends) {
  TChart chart(nullptr, "Number of Molecules", "N(t)", TChartScale::Logarithmic, '.');
  double t = 0.0;
  std::vector<double> times;
  for (int k = 0; k < 1000; ++k) {  // enough to outgrow the container's front reserve
    t -= 0.0001;
    times.push_back(t);
    chart.AppendPoint(1, t, k);
  }
  ASSERT_EQ(chart.PointCount(1), 1000);
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ(chart.PointX(1, i), times[999 - i]);
    EXPECT_EQ(chart.PointY(1, i), 999 - i);
  }
  EXPECT_DOUBLE_EQ(chart.xAxis->range().lower, times.back());
  EXPECT_DOUBLE_EQ(chart.xAxis->range().upper, times.front());
}

TEST(ChartView, ClearEmptiesBothCurvesAndAppendingStartsAfresh) {
  TChart chart(nullptr, "Concentration", "C(t)", TChartScale::Linear, '.');
  for (int k = 0; k < 10; ++k) {
    chart.AppendPoint(0, k, 5e20);
    chart.AppendPoint(1, k, -3.0);
  }
  chart.ClearCurves();
  EXPECT_EQ(chart.PointCount(0), 0);
  EXPECT_EQ(chart.PointCount(1), 0);
  // The earlier extremes no longer shape the axis.
  chart.AppendPoint(1, 0.0001, 2.0);
  chart.AppendPoint(1, 0.0002, 4.0);
  EXPECT_EQ(chart.yAxis->range(), QCPRange(2.0, 4.0));
  EXPECT_EQ(chart.xAxis->range(), QCPRange(0.0001, 0.0002));
  EXPECT_EQ(PointsOf(chart, 1), (TPoints{{0.0001, 2.0}, {0.0002, 4.0}}));
  EXPECT_EQ(chart.PointCount(0), 0);
}

TEST(ChartView, BadIndexesThrowInsteadOfReadingGarbage) {
  TChart chart(nullptr, "Concentration", "C(t)", TChartScale::Linear, '.');
  chart.AppendPoint(0, 1.0, 2.0);
  EXPECT_THROW(chart.AppendPoint(2, 1.0, 1.0), std::out_of_range);
  EXPECT_THROW(chart.PointCount(-1), std::out_of_range);
  EXPECT_THROW(chart.PointX(0, 1), std::out_of_range);
  EXPECT_THROW(chart.PointY(1, 0), std::out_of_range);
  EXPECT_THROW(chart.PointY(0, -1), std::out_of_range);
  EXPECT_EQ(chart.PointY(0, 0), 2.0);
}

TEST(ChartView, RenderedTickLabelsFollowThePattern) {
  for (char separator : {'.', ','}) {
    TChart chart(nullptr, "Concentration", "C(t)", TChartScale::Linear, separator);
    double t = 0.0;
    for (int k = 0; k < 30; ++k) {
      t += 0.0001;
      chart.AppendPoint(0, t, 7.2e20);
      chart.AppendPoint(1, t, k * 2.5e19);
    }
    Render(chart);
    for (QCPAxis* axis : {chart.xAxis, chart.yAxis}) {
      const QVector<double> ticks = axis->tickVector();
      const QVector<QString> labels = axis->tickVectorLabels();
      ASSERT_GE(ticks.size(), 2);
      ASSERT_EQ(ticks.size(), labels.size());
      for (int i = 0; i < ticks.size(); ++i) {
        EXPECT_EQ(labels[i].toStdString(), TickLabelText(ticks[i], separator));
        EXPECT_TRUE(labels[i].contains('E')) << labels[i].toStdString();
        EXPECT_FALSE(labels[i].contains(separator == '.' ? ',' : '.'));
      }
    }
    // The time axis runs from 0.0001 to 0.003: some label must carry "E-4" or "E-3".
    const QVector<QString> times = chart.xAxis->tickVectorLabels();
    EXPECT_TRUE(std::any_of(times.begin(), times.end(),
                            [](const QString& label) { return label.endsWith("E-3"); }));
  }
}

TEST(ChartView, LogAxisKeepsZeroAndNegativeCountsAndDrawsThemAtTheBottom) {
  TChart chart(nullptr, "Number of Molecules", "N(t)", TChartScale::Logarithmic, '.');
  // The inner cube starts empty: the measured count is 0 for a while; a few
  // negative values follow at the end.
  for (int k = 1; k <= 100; ++k) {
    chart.AppendPoint(0, k * 0.0001, 720);
    chart.AppendPoint(1, k * 0.0001, k <= 40 ? 0.0 : k <= 80 ? k - 40.0 : -3.0);
  }
  EXPECT_EQ(chart.PointCount(1), 100);
  EXPECT_EQ(chart.PointY(1, 0), 0.0);
  EXPECT_EQ(chart.PointY(1, 99), -3.0);
  // Range from log 1 (a bound <= 0 counts as 1) to log 720.
  EXPECT_EQ(chart.yAxis->range(), QCPRange(1.0, 720.0));

  const QImage image = Render(chart);
  EXPECT_EQ(chart.yAxis->tickVectorLabels().first(), "1E0");
  const QRect plot = chart.axisRect()->rect();
  auto greenNearBottom = [&](int x) {
    for (int y = plot.bottom() - 1; y <= plot.bottom(); ++y) {
      const QColor c = image.pixelColor(x, y);
      if (c.green() > 90 && c.red() < 90 && c.blue() < 90) return true;
    }
    return false;
  };
  // Columns in the zero stretch (the first 40 %) and in the negative one (the last 20 %).
  EXPECT_TRUE(greenNearBottom(plot.left() + plot.width() / 5));
  EXPECT_TRUE(greenNearBottom(plot.right() - plot.width() / 10));
  // Drawing changed no stored value.
  EXPECT_EQ(chart.PointY(1, 0), 0.0);
  EXPECT_EQ(chart.PointY(1, 99), -3.0);
}

TEST(ChartView, LogAxisRangeWithOnlyZeroCountsIsUsable) {
  TChart chart(nullptr, "Number of Molecules", "N(t)", TChartScale::Logarithmic, '.');
  chart.AppendPoint(1, 0.0001, 0.0);
  chart.AppendPoint(1, 0.0002, 0.0);
  const QCPRange range = chart.yAxis->range();
  EXPECT_GT(range.lower, 0.0);
  EXPECT_LT(range.lower, 1.0);
  EXPECT_GT(range.upper, 1.0);
  Render(chart);  // must not trip over an empty or invalid range
  EXPECT_EQ(chart.PointCount(1), 2);
}

// ---------------------------------------------------------------------------
// Zoom, pan and the picture menu

namespace {

void SendMouse(TChart& chart, QEvent::Type type, QPointF at, Qt::MouseButtons held) {
  QMouseEvent event(type, at, chart.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(&chart, &event);
}

// Picks `file` in the next file dialog and notes the folder it opened in.
void AnswerNextFileDialog(const QString& file, QString* openedIn) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [=] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    *openedIn = dialog->directory().absolutePath();
    // Typed, as a user would: selectFile leaves a focused name field alone.
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(file);
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as its button calls it
    poll->deleteLater();
  });
  poll->start(10);
}

}  // namespace

TEST(ChartView, WheelAndDragHoldTheViewUntilADoubleClick) {
  for (TChartScale scale : {TChartScale::Linear, TChartScale::Logarithmic}) {
    TChart chart(nullptr, "Number of Molecules", "N(t)", scale, '.');
    TChart twin(nullptr, "Number of Molecules", "N(t)", scale, '.');  // never touched
    const auto append = [&](int from, int to) {
      for (int k = from; k < to; ++k)
        for (TChart* c : {&chart, &twin}) {
          c->AppendPoint(0, k * 1e-4, 720.0);
          c->AppendPoint(1, k * 1e-4, k % 7);  // zero counts on the log axis too
        }
    };
    append(1, 50);
    Render(chart);
    const QPointF centre = chart.axisRect()->center();
    QWheelEvent wheel(centre, chart.mapToGlobal(centre), {}, {0, 360}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&chart, &wheel);
    EXPECT_TRUE(chart.Zoomed());
    EXPECT_LT(chart.xAxis->range().size(), twin.xAxis->range().size() * 0.7);
    EXPECT_LT(chart.yAxis->range().upper / chart.yAxis->range().lower,
              twin.yAxis->range().upper / twin.yAxis->range().lower);
    const QCPRange zoomedX = chart.xAxis->range();
    SendMouse(chart, QEvent::MouseButtonPress, centre, Qt::LeftButton);
    SendMouse(chart, QEvent::MouseMove, centre + QPointF(60, -30), Qt::LeftButton);
    SendMouse(chart, QEvent::MouseButtonRelease, centre + QPointF(60, -30), Qt::NoButton);
    EXPECT_LT(chart.xAxis->range().lower, zoomedX.lower);  // dragged right: earlier times
    const QCPRange x = chart.xAxis->range();
    const QCPRange y = chart.yAxis->range();
    append(50, 200);  // new points leave the user's view alone
    Render(chart);
    EXPECT_EQ(chart.xAxis->range(), x);
    EXPECT_EQ(chart.yAxis->range(), y);
    EXPECT_EQ(chart.xAxis2->range(), x);
    EXPECT_EQ(chart.yAxis2->range(), y);
    EXPECT_GT(y.lower, 0.0);
    for (int i = 0; i < chart.yAxis->tickVector().size(); ++i)
      EXPECT_EQ(chart.yAxis->tickVectorLabels()[i].toStdString(),
                TickLabelText(chart.yAxis->tickVector()[i], '.'));
    SendMouse(chart, QEvent::MouseButtonDblClick, centre, Qt::LeftButton);
    EXPECT_FALSE(chart.Zoomed());
    EXPECT_EQ(chart.xAxis->range(), twin.xAxis->range());
    EXPECT_EQ(chart.yAxis->range(), twin.yAxis->range());
  }
}

TEST(ChartView, ImagesAreSavedCopiedOrRefusedWithTheFileAndTheReason) {
  TWorkDir work;
  TChart chart(nullptr, "Concentration", "C(t)", TChartScale::Linear, '.');
  Render(chart);
  const QList<QAction*> actions = chart.ContextMenu()->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_EQ(actions[0]->text(), QStringLiteral("Save image..."));
  EXPECT_EQ(actions[1]->text(), QStringLiteral("Copy image"));
  QAction band(QStringLiteral("Band"));
  chart.AddMenuAction(&band);
  EXPECT_EQ(chart.ContextMenu()->actions().back(), &band);
  actions[1]->trigger();
  EXPECT_EQ(QApplication::clipboard()->image().size(), chart.size());
  chart.SaveImage(QStringLiteral("old.png"));
  chart.SaveImage(QStringLiteral("c.PDF"));
  EXPECT_EQ(QImage(QStringLiteral("old.png")).size(), chart.size());
  EXPECT_EQ(ReadFile("c.PDF").substr(0, 5), "%PDF-");

  const std::string old = ReadFile("old.png");
  ASSERT_EQ(mkdir("sub", 0755), 0);
  ASSERT_EQ(chmod(".", 0755), 0);
  const QString sub = QDir::currentPath() + "/sub";
  TUnprivileged user;  // no folder is writable now
  if (!user.Effective()) GTEST_SKIP() << "cannot test file permissions as root";
  try {
    chart.SaveImage(QStringLiteral("old.png"));
    ADD_FAILURE() << "written";
  } catch (const TError& error) {
    EXPECT_STREQ(error.what(),
                 "Cannot write old.png: Permission denied (old.png keeps what it held)");
  }
  std::vector<QString> messages;
  const TErrorDisplay previous =
      SetErrorDisplay([&](const QString& message) { messages.push_back(message); });
  QString openedIn;
  AnswerNextFileDialog(sub + "/chart", &openedIn);  // the suffix comes from the filter
  actions[0]->trigger();
  AnswerNextFileDialog("chart.pdf", &openedIn);
  actions[0]->trigger();
  SetErrorDisplay(previous);
  EXPECT_EQ(openedIn, sub);  // where the last one was saved
  EXPECT_EQ(messages,
            (std::vector<QString>{"Cannot write " + sub + "/chart.png: Permission denied",
                                  "Cannot write " + sub + "/chart.pdf: Permission denied"}));
  EXPECT_EQ(ReadFile("old.png"), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 3);  // no leftovers
}
