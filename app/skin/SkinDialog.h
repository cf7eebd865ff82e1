// The base of the application's skinned windows.
//
// A skinned window has no standard frame: its background, shape and child
// controls come from a skin package (a zip archive "NAME.skn" beside the
// program) holding a layout file and the bitmaps it names. The window finds
// its controls by their layout names and learns of the user's actions
// through the virtual hooks below, which derived windows override.
//
// The engine works relative to the current folder: a package is unpacked into
// the working folder "Tmp", the layout "Tmp/Skin.ini" (or
// "Tmp/ConvertSkin.ini") is applied, and "Tmp" is deleted again; everything
// the skin needs is then held in memory.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <memory>
#include <string>
#include <vector>

#include "app/skin/Label.h"
#include "app/skin/SkinButton.h"
#include "app/skin/SkinComboBox.h"
#include "app/skin/SkinEdit.h"
#include "app/skin/SkinListCtrl.h"
#include "app/skin/SkinProgress.h"
#include "app/skin/SkinSlider.h"
#include "platform/win/WinTypes.h"

class QMenu;

namespace skin {
class LayoutFile;
}

// "%02d:%02d:%02d" of whole seconds (hours, minutes, seconds); values above
// 359999 show as 99:59:59 and negative values as 00:00:00.
std::string SkinTimeText(int seconds);

class CSkinDialog : public QDialog {
 public:
  // Right-click menu commands.
  static constexpr int kOptionsCommand = 32769;
  static constexpr int kFirstSkinCommand = 32771;
  static constexpr int kLastSkinCommand = 32796;
  // The skin list holds the first package found and at most 25 more.
  static constexpr std::size_t kMaximumSkins = 26;

  explicit CSkinDialog(QWidget* parent = nullptr);
  ~CSkinDialog() override;

  // ---- hooks (the base does what the comment says) ----
  virtual void OnButtonClicked(const std::string& name);  // nothing
  virtual void OnOptionClicked(const std::string& name);  // nothing
  // Calls OnButtonClicked with the name of the button at `index`.
  virtual void OnButtonIndex(int index);
  // Calls OnOptionClicked, then unchecks every other option.
  virtual void OnOptionIndex(int index);
  virtual void OnListDoubleClick();  // nothing
  virtual void OnSliderMoved(const std::string& name, int position);  // nothing
  // Calls OnSliderMoved with the slider's name.
  virtual void OnSliderIndex(int index, int position);
  // Called with an empty name on every mouse move over the window's background.
  virtual void OnSkinMouseMove(const std::string& name, int x, int y);  // nothing
  // The absolute folder of `path`, with a trailing "/".
  virtual std::string GetLayoutFolder(const std::string& path);
  // Releases the background, region, back buffer, caption and every control.
  virtual void ClearSkin();
  virtual void OnSkinChanged(int command);  // nothing
  virtual void OnBeforeSkinChange();  // nothing
  virtual void OnOptions();  // nothing
  // Rebuilds the window shape from the background and repaints.
  virtual void ApplyRegion();
  // Applies the layout file named by the layout path (every section).
  virtual void LoadLayout();

  // ---- skins ----
  // Fills the skin list from "*.skn" in `folder`, in the order the folder
  // listing returns them (at most kMaximumSkins names, without extension).
  void BuildSkinList(const std::string& folder);
  void SetSkinList(std::vector<std::string> names) { m_skinList = std::move(names); }
  const std::vector<std::string>& SkinList() const { return m_skinList; }
  int SkinMenuPosition() const { return m_nSkinMenuPosition; }
  void SetSkinMenuPosition(int position) { m_nSkinMenuPosition = position; }

  // Unpacks a package into `folder`. Problems are reported to the user with
  // message boxes ("Open failed", "Extract failed", the Retry question); the
  // result says whether every entry was extracted.
  bool ExtractSkin(const std::string& packagePath, const std::string& folder);
  // Unpacks `packagePath` into "Tmp", applies `layoutPath` (e.g.
  // "Tmp/Skin.ini"), remembers its folder for SwitchSkin, deletes "Tmp".
  void ApplySkinPackage(const std::string& packagePath, const std::string& layoutPath);
  // Switches to the skin of a right-click menu command (32771 and on).
  void SwitchSkin(int command);
  // Handles a right-click menu command.
  void OnCommand(int command);
  // The right-click menu as it would be shown now.
  std::unique_ptr<QMenu> BuildSkinMenu();

  // The layout folder of the last applied skin (process-wide), and the
  // program folder SwitchSkin derives from it.
  static std::string StoredLayoutFolder();
  static void SetStoredLayoutFolder(const std::string& folder);
  static std::string ProgramFolder();

  void SetLayoutPath(const std::string& path) { m_strLayoutPath = path; }
  const std::string& LayoutPath() const { return m_strLayoutPath; }

  // Applies only [Main], [COLOR], BUTTONINFO, LABELINFO and PROGRESSINFO, as
  // the conversion window does.
  void LoadConversionLayout();

  // ---- what the skin gives ----
  const QImage& Background() const { return m_background; }
  const QImage& BackBuffer() const { return m_backBuffer; }
  std::uint32_t TransparentColour() const { return m_transparentColour; }
  const QRegion& WindowRegion() const { return m_region; }
  RECT ControlArea() const { return m_controlArea; }
  const RECT& IconRect() const { return m_iconRect; }
  CLabel* Caption() const { return m_pCaption; }

  const std::vector<CSkinButton*>& Buttons() const { return m_buttons; }
  const std::vector<CSkinSlider*>& Sliders() const { return m_sliders; }
  const std::vector<CSkinEdit*>& Edits() const { return m_edits; }
  const std::vector<CSkinListCtrl*>& Lists() const { return m_lists; }
  const std::vector<CLabel*>& Labels() const { return m_labels; }
  const std::vector<CSkinOption*>& Options() const { return m_options; }
  const std::vector<CSkinProgress*>& Progresses() const { return m_progresses; }
  const std::vector<CSkinComboBox*>& ComboBoxes() const { return m_comboBoxes; }

  // ---- access by name (the first control of that kind with that name) ----
  CSkinButton* FindButton(const std::string& name) const;
  CSkinSlider* FindSlider(const std::string& name) const;
  CLabel* FindLabel(const std::string& name) const;
  CSkinOption* FindOption(const std::string& name) const;
  CSkinProgress* FindProgress(const std::string& name) const;
  CSkinEdit* FindEdit(const std::string& name) const;
  CSkinListCtrl* FindList(const std::string& name) const;
  CSkinComboBox* FindComboBox(const std::string& name) const;
  void EnableButton(const std::string& name, bool enable);
  void SetButtonDown(const std::string& name, bool down);
  bool IsButtonDown(const std::string& name) const;
  void SetButtonTip(const std::string& name, const std::string& text);
  void SetSliderPos(const std::string& name, int position);
  int GetSliderPos(const std::string& name) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum class Scope { MainWindow, ConversionWindow };
  void ReadLayout(Scope scope);
  void ReadBackground(const skin::LayoutFile& layout);
  void ReadControlArea(const skin::LayoutFile& layout);
  void ReadIcon(const skin::LayoutFile& layout);
  void ReadButtons(const skin::LayoutFile& layout);
  void ReadSliders(const skin::LayoutFile& layout);
  void ReadOptions(const skin::LayoutFile& layout);
  void ReadCaption(const skin::LayoutFile& layout);
  void ReadLabels(const skin::LayoutFile& layout);
  void ReadProgresses(const skin::LayoutFile& layout);
  void ReadEdits(const skin::LayoutFile& layout);
  void ReadLists(const skin::LayoutFile& layout);
  void ReadComboBoxes(const skin::LayoutFile& layout);
  void ShowTimeOnLabel();
  void ShowContextMenu(const QPoint& globalPosition);
  QImage Bitmap(const std::string& file) const;

  std::string m_strLayoutPath;
  std::string m_strLayoutFolder;  // of the layout being applied
  QImage m_background;
  QImage m_backBuffer;
  QRegion m_region;
  std::uint32_t m_transparentColour;
  QImage m_icon;
  RECT m_iconRect{0, 0, 0, 0};
  RECT m_controlArea{0, 0, 0, 0};
  CLabel* m_pCaption = nullptr;

  std::vector<CSkinButton*> m_buttons;
  std::vector<CSkinSlider*> m_sliders;
  std::vector<CSkinEdit*> m_edits;
  std::vector<CSkinListCtrl*> m_lists;
  std::vector<CLabel*> m_labels;
  std::vector<CSkinOption*> m_options;
  std::vector<CSkinProgress*> m_progresses;
  std::vector<CSkinComboBox*> m_comboBoxes;

  std::vector<std::string> m_skinList;
  int m_nSkinMenuPosition = 2;
  int m_nNextMenuCommand = kFirstSkinCommand;

  // Dragging the window by its background where the platform cannot move it.
  bool m_bMovingWindow = false;
  QPoint m_moveOffset;
};
