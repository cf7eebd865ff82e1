#include "app/skin/SkinComboBox.h"

#include <QPalette>

#include "app/skin/SkinDialog.h"

namespace {

// Qt rectangles from Win32 edges (right and bottom exclusive).
QRect FromEdges(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

}  // namespace

CSkinComboBox::CSkinComboBox(CSkinDialog* owner, const std::string& name, int index, QWidget* parent)
    : QWidget(parent), CSkinElement(owner, name, index) {
  // The container itself shows nothing and takes no input: the window's
  // background stays visible around the parts.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
}

CSkinComboBox::~CSkinComboBox() {
  delete m_pButton;
  delete m_pEdit;
  delete m_pList;
}

void CSkinComboBox::Create(const QRect& area, const QImage& strip, std::uint32_t transparent,
                           const Colours& colours, const CSkinScrollBar::Bitmaps& scrollBitmaps) {
  QWidget* parent = parentWidget();
  const int left = area.left();
  const int top = area.top();
  const int right = area.left() + area.width();
  const int bottom = area.top() + area.height();
  m_buttonFrame = strip.isNull() ? QSize(0, 0) : QSize(strip.width() / 4, strip.height());
  const int w = m_buttonFrame.width();
  const int h = m_buttonFrame.height();

  int listBottom = bottom;
  if (bottom - top - h - 2 < kMinimumListHeight) listBottom = top + h + 2 + kMinimumListHeight;
  m_editRect = FromEdges(left, top, right - w, top + h);
  m_buttonRect = FromEdges(right - w, top - 1, right, top + h + 1);
  m_listRect = FromEdges(left, top + h + 2, right - 1, listBottom);
  m_wholeArea = FromEdges(left, top, right, listBottom);
  setGeometry(area);
  lower();

  m_pButton = new CSkinComboButton(Owner(), "COMBO_BTN", this, parent);
  m_pButton->setGeometry(m_buttonRect);
  m_pButton->LoadStrip(strip, transparent);
  m_pButton->show();

  m_pEdit = new CSkinEdit(Owner(), "COMBO_EDIT", 0, parent);
  m_pEdit->setGeometry(m_editRect);
  m_pEdit->SetColours(colours.editBackground, colours.editText, colours.editBorder);
  m_pEdit->show();

  m_pList = new CSkinListCtrl(Owner(), "COMBO_LIST", 0, parent);
  m_pList->hide();
  m_pList->setGeometry(m_listRect);
  m_pList->SetColours(colours.listBackground, colours.listText, colours.listSelectedBackground,
                      colours.listSelectedText);
  // The open list is framed in the edit's border colour.
  m_pList->setFrameShape(QFrame::Box);
  m_pList->setFrameShadow(QFrame::Plain);
  m_pList->setLineWidth(1);
  QPalette framed = m_pList->palette();
  const std::uint32_t border = m_pEdit->BorderColour();
  framed.setColor(QPalette::WindowText, QColor::fromRgb(0xFF000000u | border));
  m_pList->setPalette(framed);
  m_pList->CreateScrollBar(scrollBitmaps);
  m_pList->SetupSingleColumn();
  m_pList->hide();
  QObject::connect(m_pList, &QTreeWidget::itemClicked, this,
                   [this](QTreeWidgetItem* item, int) { OnItemClicked(item); });
  m_bListHidden = true;
}

void CSkinComboBox::ToggleList() {
  if (!m_pList) return;
  if (m_bListHidden) {
    m_pList->show();
    m_pList->raise();
    if (m_pList->ScrollBar()) m_pList->ScrollBar()->raise();
  } else {
    // Hiding lets the window repaint what the list covered (the options and
    // "LABEL_MODE" lie there in the bundled layouts).
    m_pList->hide();
  }
  m_bListHidden = !m_bListHidden;
}

void CSkinComboBox::AddString(const std::string& text) {
  if (!m_pList) return;
  auto* item = new QTreeWidgetItem(m_pList);
  item->setText(0, QString::fromStdString(text));
}

void CSkinComboBox::OnItemClicked(QTreeWidgetItem* item) {
  if (!item || !m_pEdit) return;
  m_pEdit->setText(item->text(0));
  if (!m_bListHidden) ToggleList();
}
