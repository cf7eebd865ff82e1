#include "app/skin/SkinListCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "app/skin/SkinBitmap.h"
#include "app/skin/SkinDialog.h"
#include "app/skin/SkinLayout.h"

// ---- scroll bar ----

CSkinScrollBar::CSkinScrollBar(CSkinListCtrl* list, QWidget* parent) : QWidget(parent), m_pList(list) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  m_delayTimer.setTimerType(Qt::PreciseTimer);
  m_repeatTimer.setTimerType(Qt::PreciseTimer);
  m_delayTimer.setInterval(kDelayMilliseconds);
  m_repeatTimer.setInterval(kRepeatMilliseconds);
  QObject::connect(&m_delayTimer, &QTimer::timeout, this, [this]() { OnDelayTimer(); });
  QObject::connect(&m_repeatTimer, &QTimer::timeout, this, [this]() { OnRepeatTimer(); });
}

void CSkinScrollBar::SetBitmaps(const Bitmaps& bitmaps) {
  m_bitmaps = bitmaps;
  auto pairSize = [&](Bitmap first, Bitmap second) {
    return (!bitmaps[first].isNull() && !bitmaps[second].isNull()) ? bitmaps[first].size() : QSize(0, 0);
  };
  m_upSize = pairSize(kUp, kUpPressed);
  m_downSize = pairSize(kDown, kDownPressed);
  m_thumbSize = pairSize(kThumb, kThumbPressed);
  m_trackSize = bitmaps[kTrack].isNull() ? QSize(0, 0) : bitmaps[kTrack].size();
  m_nThumbTop = m_upSize.height();
  update();
}

int CSkinScrollBar::Travel() const {
  return height() - m_upSize.height() - m_downSize.height() - m_thumbSize.height();
}

QRect CSkinScrollBar::UpArrowRect() const { return QRect(0, 0, m_upSize.width(), m_upSize.height()); }

QRect CSkinScrollBar::DownArrowRect() const {
  return QRect(0, height() - m_downSize.height(), m_downSize.width(), m_downSize.height());
}

QRect CSkinScrollBar::ThumbRect() const { return QRect(0, m_nThumbTop, m_thumbSize.width(), m_thumbSize.height()); }

void CSkinScrollBar::Clamp() {
  if (m_nThumbTop + m_thumbSize.height() > height() - m_downSize.height()) {
    m_nThumbTop = height() - m_downSize.height() - m_thumbSize.height();
  }
  // A bar too short for its thumb keeps the thumb below the up arrow.
  if (m_nThumbTop < m_upSize.height()) m_nThumbTop = m_upSize.height();
}

void CSkinScrollBar::UpdateBar() {
  const int limit = m_pList ? m_pList->VerticalScrollLimit() : 0;
  if (limit > 0) {
    m_dScale = static_cast<double>(Travel()) / limit;
    m_nThumbTop = m_upSize.height() + static_cast<int>(m_pList->VerticalScrollPosition() * m_dScale);
  } else {
    // No scroll range: the thumb rests just below the up arrow.
    m_dScale = 0.0;
    m_nThumbTop = m_upSize.height();
  }
  Clamp();
  repaint();
}

void CSkinScrollBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!m_pList || m_pList->VerticalScrollLimit() == 0) {
    painter.fillRect(rect(), QColor::fromRgb(skin::OpaqueRgb(m_backgroundColour)));
    return;
  }
  if (!m_bitmaps[kTrack].isNull()) painter.drawImage(rect(), m_bitmaps[kTrack]);
  const QImage& up = m_bitmaps[m_bUpLit ? kUpPressed : kUp];
  const QImage& down = m_bitmaps[m_bDownLit ? kDownPressed : kDown];
  const QImage& thumb = m_bitmaps[m_bThumbLit ? kThumbPressed : kThumb];
  if (!up.isNull()) painter.drawImage(0, 0, up);
  if (!down.isNull()) painter.drawImage(0, height() - m_downSize.height(), down);
  if (!thumb.isNull()) painter.drawImage(0, m_nThumbTop, thumb);
}

void CSkinScrollBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  m_bLeftDown = true;
  const QPoint point = event->position().toPoint();
  // Each part is tested by itself; pressing an arrow only arms the repeat.
  if (ThumbRect().contains(point)) m_bThumbLit = true;
  if (DownArrowRect().contains(point)) {
    m_bDownLit = true;
    m_delayTimer.start();
  }
  if (UpArrowRect().contains(point)) {
    m_bUpLit = true;
    m_delayTimer.start();
  }
  repaint();
}

void CSkinScrollBar::MouseMovedTo(const QPoint& point, bool leftButtonDown) {
  if (m_bThumbLit && leftButtonDown) {
    const int limit = m_pList ? m_pList->VerticalScrollLimit() : 0;
    if (limit <= 0) return;
    m_nThumbTop = point.y() - m_thumbSize.height() / 2;
    m_dScale = static_cast<double>(Travel()) / limit;
    const int lines =
        static_cast<int>((m_nThumbTop - m_upSize.height()) / m_dScale) - m_pList->VerticalScrollPosition();
    m_pList->m_bBarFollowsScroll = false;
    m_pList->ScrollLines(lines);
    m_pList->m_bBarFollowsScroll = true;
    Clamp();
    repaint();
    return;
  }
  // The pressed images double as hover images.
  const bool up = UpArrowRect().contains(point);
  const bool down = DownArrowRect().contains(point);
  const bool thumb = ThumbRect().contains(point);
  if (up == m_bUpLit && down == m_bDownLit && thumb == m_bThumbLit) return;
  m_bUpLit = up;
  m_bDownLit = down;
  m_bThumbLit = thumb;
  repaint();
}

void CSkinScrollBar::mouseMoveEvent(QMouseEvent* event) {
  MouseMovedTo(event->position().toPoint(), (event->buttons() & Qt::LeftButton) != 0);
}

void CSkinScrollBar::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  UpdateBar();
  m_repeatTimer.stop();
  m_delayTimer.stop();
  m_bLeftDown = false;
  const QPoint point = event->position().toPoint();
  bool scrolled = false;
  if (UpArrowRect().contains(point) && m_bUpLit) {
    LineUp();
    scrolled = true;
  }
  if (DownArrowRect().contains(point) && m_bDownLit) {
    LineDown();
    scrolled = true;
  }
  if (!scrolled && !ThumbRect().contains(point) && !m_bThumbLit) {
    // A click on the track: a page towards the click.
    if (point.y() > m_nThumbTop) {
      PageDown();
    } else {
      PageUp();
    }
  }
  m_bUpLit = false;
  m_bDownLit = false;
  m_bThumbLit = false;
  repaint();
}

void CSkinScrollBar::OnDelayTimer() {
  if (m_bDownLit || m_bUpLit) {
    m_delayTimer.stop();
    m_repeatTimer.start();
  }
}

void CSkinScrollBar::OnRepeatTimer() {
  if (m_bDownLit && m_bLeftDown) LineDown();
  if (m_bUpLit && m_bLeftDown) LineUp();
}

void CSkinScrollBar::LineUp() {
  if (m_pList) m_pList->SendScroll(CSkinListCtrl::SB_LINEUP);
}
void CSkinScrollBar::LineDown() {
  if (m_pList) m_pList->SendScroll(CSkinListCtrl::SB_LINEDOWN);
}
void CSkinScrollBar::PageUp() {
  if (m_pList) m_pList->SendScroll(CSkinListCtrl::SB_PAGEUP);
}
void CSkinScrollBar::PageDown() {
  if (m_pList) m_pList->SendScroll(CSkinListCtrl::SB_PAGEDOWN);
}

// ---- list ----

namespace {

QColor Colour(std::uint32_t rgb) { return QColor::fromRgb(skin::OpaqueRgb(rgb)); }

}  // namespace

CSkinListCtrl::CSkinListCtrl(CSkinDialog* owner, const std::string& name, int index, QWidget* parent)
    : QTreeWidget(parent), CSkinElement(owner, name, index) {
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(0);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::NoFrame);
  viewport()->setMouseTracking(true);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(15);  // a cell 18 pixels high
  setFont(font);
  ApplyColours();

  auto follow = [this]() {
    if (m_pBar && m_bBarFollowsScroll) m_pBar->UpdateBar();
  };
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, follow);
  connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, follow);
}

CSkinListCtrl::~CSkinListCtrl() {
  // The bar is a sibling, owned by the window: it goes with the list.
  delete m_pBar;
}

void CSkinListCtrl::SetColours(std::uint32_t background, std::uint32_t text, std::uint32_t selectedBackground,
                               std::uint32_t selectedText) {
  if (background != skin::kNoColour) m_background = background & 0xFFFFFF;
  if (text != skin::kNoColour) m_text = text & 0xFFFFFF;
  if (selectedBackground != skin::kNoColour) m_selectedBackground = selectedBackground & 0xFFFFFF;
  if (selectedText != skin::kNoColour) m_selectedText = selectedText & 0xFFFFFF;
  ApplyColours();
}

// Selected rows keep their colours when the list does not have the focus.
void CSkinListCtrl::ApplyColours() {
  QPalette colours = palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    colours.setColor(group, QPalette::Base, Colour(m_background));
    colours.setColor(group, QPalette::Window, Colour(m_background));
    colours.setColor(group, QPalette::Text, Colour(m_text));
    colours.setColor(group, QPalette::WindowText, Colour(m_text));
    colours.setColor(group, QPalette::Highlight, Colour(m_selectedBackground));
    colours.setColor(group, QPalette::HighlightedText, Colour(m_selectedText));
  }
  setPalette(colours);
  if (m_pBar) m_pBar->SetBackgroundColour(m_background);
}

void CSkinListCtrl::CreateScrollBar(const CSkinScrollBar::Bitmaps& bitmaps) {
  delete m_pBar;
  m_pBar = new CSkinScrollBar(this, parentWidget());
  m_pBar->SetBitmaps(bitmaps);
  m_pBar->SetBackgroundColour(m_background);
  resize(std::max(0, width() - m_pBar->BarWidth()), height());
  PlaceBar();
  m_pBar->setVisible(isVisibleTo(parentWidget()));
  m_pBar->UpdateBar();
}

void CSkinListCtrl::PlaceBar() {
  if (!m_pBar) return;
  m_pBar->setGeometry(x() + width(), y(), m_pBar->BarWidth(), height());
}

void CSkinListCtrl::SetupFileColumns() {
  setColumnCount(4);
  const int barWidth = m_pBar ? m_pBar->BarWidth() : 0;
  header()->setStretchLastSection(false);
  header()->setMinimumSectionSize(0);
  setColumnWidth(0, 40);
  // The client area is the list less its frame (the viewport is sized only
  // once the list is laid out).
  const int clientWidth = width() - 2 * frameWidth();
  setColumnWidth(1, std::max(0, clientWidth - barWidth - 35));
  // The time columns are sized to their (empty) contents, as an auto-sized
  // report column is.
  resizeColumnToContents(2);
  resizeColumnToContents(3);
}

void CSkinListCtrl::SetupSingleColumn() {
  setColumnCount(1);
  setSelectionMode(QAbstractItemView::SingleSelection);
  header()->setStretchLastSection(true);
}

int CSkinListCtrl::AddItem(const std::string& column1, const std::string& column2, const std::string& column3) {
  auto* item = new QTreeWidgetItem(this);
  item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
  item->setText(1, QString::fromStdString(column1));
  item->setText(2, QString::fromStdString(column2));
  item->setText(3, QString::fromStdString(column3));
  return indexOfTopLevelItem(item);
}

bool CSkinListCtrl::MoveItem(int from, int to) {
  if (from == to || from < 0 || to < 0 || from >= topLevelItemCount()) return false;
  const int insertAt = std::min(to, topLevelItemCount());
  auto* copy = new QTreeWidgetItem();
  copy->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
  insertTopLevelItem(insertAt, copy);
  // The insertion shifts the source down by one when it lay at or after it.
  const int source = insertAt <= from ? from + 1 : from;
  QTreeWidgetItem* original = topLevelItem(source);
  for (int column = 0; column < 4; ++column) copy->setText(column, original->text(column));
  delete takeTopLevelItem(source);
  return true;
}

void CSkinListCtrl::DeleteSelectedItems() {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  for (QTreeWidgetItem* item : selected) delete takeTopLevelItem(indexOfTopLevelItem(item));
}

std::string CSkinListCtrl::ItemText(int row, int column) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(column).toStdString() : std::string();
}

int CSkinListCtrl::VerticalScrollLimit() const { return verticalScrollBar()->maximum(); }

int CSkinListCtrl::VerticalScrollPosition() const { return verticalScrollBar()->value(); }

void CSkinListCtrl::SendScroll(ScrollCode code) {
  QScrollBar* bar = verticalScrollBar();
  switch (code) {
    case SB_LINEUP: bar->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case SB_LINEDOWN: bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    case SB_PAGEUP: bar->triggerAction(QAbstractSlider::SliderPageStepSub); break;
    case SB_PAGEDOWN: bar->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
  }
  if (m_pBar) m_pBar->UpdateBar();
}

void CSkinListCtrl::ScrollLines(int lines) {
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(std::clamp(bar->value() + lines, bar->minimum(), bar->maximum()));
}

void CSkinListCtrl::PassMouseMove(const QPoint& globalPosition, bool leftButtonDown) {
  if (m_pBar && m_pBar->isVisible()) m_pBar->MouseMovedTo(m_pBar->mapFromGlobal(globalPosition), leftButtonDown);
}

void CSkinListCtrl::mouseMoveEvent(QMouseEvent* event) {
  PassMouseMove(event->globalPosition().toPoint(), (event->buttons() & Qt::LeftButton) != 0);
  QTreeWidget::mouseMoveEvent(event);
}

void CSkinListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  QPointer<CSkinListCtrl> alive(this);
  QTreeWidget::mouseDoubleClickEvent(event);
  if (alive && m_bReportsDoubleClicks && Owner() && event->button() == Qt::LeftButton) Owner()->OnListDoubleClick();
}

void CSkinListCtrl::showEvent(QShowEvent* event) {
  QTreeWidget::showEvent(event);
  if (m_pBar) {
    m_pBar->show();
    m_pBar->raise();
    m_pBar->UpdateBar();
  }
}

void CSkinListCtrl::hideEvent(QHideEvent* event) {
  QTreeWidget::hideEvent(event);
  if (m_pBar) m_pBar->hide();
}

void CSkinListCtrl::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  PlaceBar();
}

void CSkinListCtrl::moveEvent(QMoveEvent* event) {
  QTreeWidget::moveEvent(event);
  PlaceBar();
}
