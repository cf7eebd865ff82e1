// A combo box assembled from a drop-down button, an edit box and a list that
// opens below them.
//
// Layout, from the container rectangle (left, top, right, bottom) and the
// button strip's frame size (w, h):
//   edit    left, top, right - w, top + h
//   button  right - w, top - 1, right, top + h + 1
//   list    left, top + h + 2, right - 1, bottom, at least 50 pixels high
#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>

#include "app/skin/SkinButton.h"
#include "app/skin/SkinEdit.h"
#include "app/skin/SkinListCtrl.h"

class CSkinComboBox : public QWidget, public CSkinElement {
 public:
  static constexpr int kMinimumListHeight = 50;

  struct Colours {
    std::uint32_t editBackground;
    std::uint32_t editText;
    std::uint32_t editBorder;
    std::uint32_t listBackground;
    std::uint32_t listText;
    std::uint32_t listSelectedBackground;
    std::uint32_t listSelectedText;
  };

  CSkinComboBox(CSkinDialog* owner, const std::string& name, int index, QWidget* parent);
  ~CSkinComboBox() override;

  // Makes the three parts as children of the container's parent. `area` is
  // in the parent's coordinates; `strip` is the button's four-frame strip.
  void Create(const QRect& area, const QImage& strip, std::uint32_t transparent, const Colours& colours,
              const CSkinScrollBar::Bitmaps& scrollBitmaps);

  // Shows or hides the list (and its scroll bar).
  void ToggleList();
  bool IsListShown() const { return !m_bListHidden; }

  CSkinComboButton* Button() const { return m_pButton; }
  CSkinEdit* Edit() const { return m_pEdit; }
  CSkinListCtrl* List() const { return m_pList; }

  QRect EditRect() const { return m_editRect; }
  QRect ButtonRect() const { return m_buttonRect; }
  QRect ListRect() const { return m_listRect; }
  QRect WholeArea() const { return m_wholeArea; }

  // Adds an entry to the list; the edit shows the chosen entry's text.
  void AddString(const std::string& text);

 private:
  void OnItemClicked(QTreeWidgetItem* item);

  // Siblings in the window, owned by this box; guarded because the window may
  // delete its children in any order.
  QPointer<CSkinComboButton> m_pButton;
  QPointer<CSkinEdit> m_pEdit;
  QPointer<CSkinListCtrl> m_pList;
  QRect m_editRect;
  QRect m_buttonRect;
  QRect m_listRect;
  QRect m_wholeArea;
  QSize m_buttonFrame;
  bool m_bListHidden = true;
};
