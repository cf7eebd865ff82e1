#include "app/skin/SkinDialog.h"

#include <QApplication>
#include <QBitmap>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "app/StringTable.h"
#include "app/skin/SkinBitmap.h"
#include "app/skin/SkinLayout.h"
#include "app/skin/ZipArchive.h"
#include "platform/ui/MessageBox.h"
#include "platform/win/FileFind.h"
#include "platform/win/System.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kMessageCaption = "reelpress";
constexpr const char* kCentralDirectoryQuestion =
    "The central directory was not found. If you're opening a multi-disk archive, make sure you have inserted the "
    "last disk. Retry?";
constexpr std::size_t kExtractBufferSize = 65535;
constexpr const char* kWorkingFolder = "Tmp";
const QSize kPlainWindowSize(400, 300);

// Token counts of the layout's entries.
constexpr std::size_t kButtonTokens = 8;
constexpr std::size_t kSliderTokens = 11;
constexpr std::size_t kOptionTokens = 9;
constexpr std::size_t kLabelTokens = 9;
constexpr std::size_t kProgressTokens = 6;
constexpr std::size_t kEditTokens = 8;
constexpr std::size_t kListTokens = 16;
constexpr std::size_t kComboTokens = 20;

std::string& LayoutFolderOfLastSkin() {
  static std::string folder;
  return folder;
}

// Layout rectangles are clamped to a range no window reaches, so absurd
// values cannot overflow or ask for giant pictures.
constexpr int kLargestCoordinate = 8192;

QRect RectFrom(const RECT& rect) {
  auto clamp = [](LONG value) { return static_cast<int>(std::clamp<LONG>(value, -kLargestCoordinate, kLargestCoordinate)); };
  const int left = clamp(rect.left);
  const int top = clamp(rect.top);
  return QRect(left, top, std::max(0, clamp(rect.right) - left), std::max(0, clamp(rect.bottom) - top));
}

// Hides a control at once and deletes it once the event that may have led
// here (a click on it, say) has been handled.
void Discard(QWidget* widget) {
  if (!widget) return;
  widget->hide();
  widget->deleteLater();
}

bool IsSwallowedKey(const QKeyEvent* key) {
  return key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

// The working folder goes with everything in it. Links inside it are removed,
// never followed.
void RemoveWorkingFolder(const std::string& folder) {
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace

std::string SkinTimeText(int seconds) {
  const int clamped = std::clamp(seconds, 0, 359999);
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", clamped / 3600, clamped / 60 % 60, clamped % 60);
  return text;
}

// ---- the skinned controls' view of their window ----

QImage CSkinElement::BackgroundUnder(const QRect& area) const {
  if (!m_pOwner || m_pOwner->BackBuffer().isNull()) return {};
  return m_pOwner->BackBuffer().copy(area);
}

void CSkinElement::PaintBackgroundSnapshot(QPainter& painter, const QWidget& widget) {
  if (!m_bSnapshotTaken) {
    m_backgroundSnapshot = BackgroundUnder(widget.geometry());
    m_bSnapshotTaken = true;
  }
  if (!m_backgroundSnapshot.isNull()) {
    painter.drawImage(0, 0, m_backgroundSnapshot);
  } else {
    painter.fillRect(widget.rect(), widget.palette().window());
  }
}

std::uint32_t CSkinElement::TransparentColour() const {
  return m_pOwner ? m_pOwner->TransparentColour() : skin::kNoColour;
}

// ---- construction ----

CSkinDialog::CSkinDialog(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), m_transparentColour(skin::kNoColour) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Escape and Return never end a skinned window, whichever control has the
  // focus: they are taken before any control sees them.
  qApp->installEventFilter(this);
}

CSkinDialog::~CSkinDialog() {
  qApp->removeEventFilter(this);
}

// ---- hooks ----

void CSkinDialog::OnButtonClicked(const std::string&) {}
void CSkinDialog::OnOptionClicked(const std::string&) {}

void CSkinDialog::OnButtonIndex(int index) {
  if (index < 0 || index >= static_cast<int>(m_buttons.size())) return;
  OnButtonClicked(m_buttons[static_cast<std::size_t>(index)]->Name());
}

void CSkinDialog::OnOptionIndex(int index) {
  if (index < 0 || index >= static_cast<int>(m_options.size())) return;
  // The hook may rebuild the skin: keep what is needed before calling it.
  const std::vector<QPointer<CSkinOption>> options(m_options.begin(), m_options.end());
  OnOptionClicked(m_options[static_cast<std::size_t>(index)]->Name());
  for (std::size_t position = 0; position < options.size(); ++position) {
    if (static_cast<int>(position) != index && options[position]) options[position]->SetCheck(false);
  }
}

void CSkinDialog::OnListDoubleClick() {}
void CSkinDialog::OnSliderMoved(const std::string&, int) {}

void CSkinDialog::OnSliderIndex(int index, int position) {
  if (index < 0 || index >= static_cast<int>(m_sliders.size())) return;
  OnSliderMoved(m_sliders[static_cast<std::size_t>(index)]->Name(), position);
}

void CSkinDialog::OnSkinMouseMove(const std::string&, int, int) {}
void CSkinDialog::OnSkinChanged(int) {}
void CSkinDialog::OnBeforeSkinChange() {}
void CSkinDialog::OnOptions() {}

std::string CSkinDialog::GetLayoutFolder(const std::string& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(fs::path(path), error);
  if (error) absolute = fs::path(path);
  std::string folder = absolute.lexically_normal().parent_path().string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

void CSkinDialog::ClearSkin() {
  m_background = QImage();
  m_backBuffer = QImage();
  m_region = QRegion();
  m_icon = QImage();
  clearMask();
  Discard(m_pCaption);
  m_pCaption = nullptr;
  for (CSkinButton* button : m_buttons) Discard(button);
  for (CSkinSlider* slider : m_sliders) Discard(slider);
  for (CSkinEdit* edit : m_edits) Discard(edit);
  for (CSkinListCtrl* list : m_lists) {
    Discard(list->ScrollBar());
    Discard(list);
  }
  for (CLabel* label : m_labels) Discard(label);
  for (CSkinOption* option : m_options) Discard(option);
  for (CSkinProgress* progress : m_progresses) Discard(progress);
  for (CSkinComboBox* combo : m_comboBoxes) {
    Discard(combo->Button());
    Discard(combo->Edit());
    if (combo->List()) Discard(combo->List()->ScrollBar());
    Discard(combo->List());
    Discard(combo);
  }
  m_buttons.clear();
  m_sliders.clear();
  m_edits.clear();
  m_lists.clear();
  m_labels.clear();
  m_options.clear();
  m_progresses.clear();
  m_comboBoxes.clear();
}

void CSkinDialog::ApplyRegion() {
  if (m_background.isNull()) {
    // No usable skin (the package or its background could not be read): a
    // plain rectangular window of a fixed size, so that the program stays
    // visible and can still be closed or given another skin.
    m_region = QRegion();
    clearMask();
    resize(kPlainWindowSize);
    update();
    return;
  }
  resize(m_background.size());
  if (m_transparentColour == skin::kNoColour) {
    m_region = QRegion(m_background.rect());
  } else {
    // The mask image marks the key colour with index 1, which QBitmap turns
    // into its background: the region is every other pixel.
    const QImage mask = m_background.createMaskFromColor(skin::OpaqueRgb(m_transparentColour), Qt::MaskInColor);
    m_region = QRegion(QBitmap::fromImage(mask));
  }
  setMask(m_region);
  update();
}

// ---- layout ----

QImage CSkinDialog::Bitmap(const std::string& file) const { return skin::LoadBitmap(m_strLayoutFolder, file); }

void CSkinDialog::LoadLayout() { ReadLayout(Scope::MainWindow); }

void CSkinDialog::LoadConversionLayout() { ReadLayout(Scope::ConversionWindow); }

void CSkinDialog::ReadLayout(Scope scope) {
  ClearSkin();
  m_strLayoutFolder = GetLayoutFolder(m_strLayoutPath);
  const skin::LayoutFile layout(m_strLayoutPath);
  ReadBackground(layout);
  if (scope == Scope::MainWindow) {
    ReadControlArea(layout);
    ReadIcon(layout);
    ReadButtons(layout);
    ReadSliders(layout);
    ReadOptions(layout);
    ReadCaption(layout);
    ReadLabels(layout);
    ReadEdits(layout);
    ReadLists(layout);
    ReadComboBoxes(layout);
    if (CSkinButton* play = FindButton("BUTTON_PLAY")) play->show();
    ShowTimeOnLabel();
  } else {
    ReadButtons(layout);
    ReadLabels(layout);
    ReadProgresses(layout);
  }
  update();
}

void CSkinDialog::ReadBackground(const skin::LayoutFile& layout) {
  m_background = Bitmap(layout.Value("Main", "Screen"));
  const std::string transparent = layout.Value("COLOR", "TRANSPARENT");
  if (!transparent.empty()) m_transparentColour = skin::ColourToken(skin::SplitTokens(transparent, 1)[0]);
  ApplyRegion();
  m_backBuffer = m_background.isNull() ? QImage() : m_background.copy();
}

void CSkinDialog::ReadControlArea(const skin::LayoutFile& layout) {
  const std::vector<std::string> tokens = layout.Tokens("CONTROL", "CONTROL", 4);
  if (!tokens.empty()) m_controlArea = skin::RectTokens(tokens, 0);
}

void CSkinDialog::ReadIcon(const skin::LayoutFile& layout) {
  const std::vector<std::string> tokens = layout.Tokens("ICON", "ICON", 5);
  if (tokens.empty()) return;
  m_icon = skin::KeyedImage(Bitmap(tokens[0]), m_transparentColour);
  m_iconRect = skin::RectTokens(tokens, 1);
}

void CSkinDialog::ReadButtons(const skin::LayoutFile& layout) {
  for (const std::string& value : layout.NumberedValues("BUTTONINFO")) {
    const std::vector<std::string> tokens = skin::SplitTokens(value, kButtonTokens);
    auto* button = new CSkinButton(this, tokens[0], static_cast<int>(m_buttons.size()), this);
    button->setGeometry(RectFrom(skin::RectTokens(tokens, 2)));
    button->LoadStrip(Bitmap(tokens[1]), m_transparentColour);
    button->SetTip(tokens[6]);
    button->SetLatched(skin::FlagToken(tokens[7]));
    button->show();
    m_buttons.push_back(button);
  }
}

void CSkinDialog::ReadSliders(const skin::LayoutFile& layout) {
  for (const std::string& value : layout.NumberedValues("SLIDERINFO")) {
    const std::vector<std::string> tokens = skin::SplitTokens(value, kSliderTokens);
    auto* slider = new CSkinSlider(this, tokens[0], static_cast<int>(m_sliders.size()), this);
    slider->setGeometry(RectFrom(skin::RectTokens(tokens, 4)));
    slider->SetBitmaps(Bitmap(tokens[1]), Bitmap(tokens[2]), Bitmap(tokens[3]), m_transparentColour);
    // The range starts empty, so the initial position reads as 0 until the
    // application sets a range.
    slider->SetRange(0, 0);
    slider->SetPos(skin::IntegerToken(tokens[9]));
    slider->SetVertical(skin::VerticalToken(tokens[8]));
    slider->SetTip(tokens[10]);
    slider->show();
    m_sliders.push_back(slider);
  }
}

void CSkinDialog::ReadOptions(const skin::LayoutFile& layout) {
  for (const std::string& value : layout.NumberedValues("OPTIONINFO")) {
    const std::vector<std::string> tokens = skin::SplitTokens(value, kOptionTokens);
    auto* option = new CSkinOption(this, tokens[0], static_cast<int>(m_options.size()), this);
    option->setGeometry(RectFrom(skin::RectTokens(tokens, 2)));
    option->LoadStrip(Bitmap(tokens[1]), m_transparentColour);
    option->SetTip(tokens[6]);
    option->SetLatched(skin::FlagToken(tokens[7]));
    option->SetCheck(skin::FlagToken(tokens[8]));
    option->show();
    m_options.push_back(option);
  }
}

namespace {

void SetUpLabel(CLabel* label, const std::vector<std::string>& tokens) {
  label->setGeometry(RectFrom(skin::RectTokens(tokens, 1)));
  label->SetText(tokens[5]);
  label->SetFontName(tokens[6]);
  label->SetFontSize(skin::IntegerToken(tokens[7]));
  label->SetTextColour(skin::ColourToken(tokens[8]));
  label->show();
}

}  // namespace

void CSkinDialog::ReadCaption(const skin::LayoutFile& layout) {
  const std::vector<std::string> tokens = layout.Tokens("CAPTION", "CAPTION", kLabelTokens);
  if (tokens.empty()) return;
  m_pCaption = new CLabel(this, tokens[0], 0, this);
  SetUpLabel(m_pCaption, tokens);
  setWindowTitle(QString::fromStdString(tokens[5]));
}

void CSkinDialog::ReadLabels(const skin::LayoutFile& layout) {
  for (const std::string& value : layout.NumberedValues("LABELINFO")) {
    const std::vector<std::string> tokens = skin::SplitTokens(value, kLabelTokens);
    auto* label = new CLabel(this, tokens[0], static_cast<int>(m_labels.size()), this);
    SetUpLabel(label, tokens);
    m_labels.push_back(label);
  }
}

void CSkinDialog::ReadProgresses(const skin::LayoutFile& layout) {
  for (const std::string& value : layout.NumberedValues("PROGRESSINFO")) {
    const std::vector<std::string> tokens = skin::SplitTokens(value, kProgressTokens);
    auto* progress = new CSkinProgress(this, tokens[0], static_cast<int>(m_progresses.size()), this);
    progress->setGeometry(RectFrom(skin::RectTokens(tokens, 1)));
    progress->SetTile(Bitmap(tokens[5]), m_transparentColour);
    progress->show();
    m_progresses.push_back(progress);
  }
}

void CSkinDialog::ReadEdits(const skin::LayoutFile& layout) {
  for (const std::string& value : layout.NumberedValues("EDITBOXINFO")) {
    const std::vector<std::string> tokens = skin::SplitTokens(value, kEditTokens);
    auto* edit = new CSkinEdit(this, tokens[0], static_cast<int>(m_edits.size()), this);
    edit->setGeometry(RectFrom(skin::RectTokens(tokens, 1)));
    edit->SetColours(skin::ColourToken(tokens[5]), skin::ColourToken(tokens[6]), skin::ColourToken(tokens[7]));
    // The layout's edit boxes only display text.
    edit->setEnabled(false);
    edit->show();
    m_edits.push_back(edit);
  }
}

namespace {

CSkinScrollBar::Bitmaps ScrollBitmaps(const std::vector<std::string>& tokens, std::size_t first,
                                      const std::function<QImage(const std::string&)>& load) {
  CSkinScrollBar::Bitmaps bitmaps;
  for (std::size_t bitmap = 0; bitmap < bitmaps.size(); ++bitmap) bitmaps[bitmap] = load(tokens[first + bitmap]);
  return bitmaps;
}

}  // namespace

void CSkinDialog::ReadLists(const skin::LayoutFile& layout) {
  auto load = [this](const std::string& file) { return Bitmap(file); };
  for (const std::string& value : layout.NumberedValues("LISTBOXINFO")) {
    const std::vector<std::string> tokens = skin::SplitTokens(value, kListTokens);
    auto* list = new CSkinListCtrl(this, tokens[0], static_cast<int>(m_lists.size()), this);
    list->setGeometry(RectFrom(skin::RectTokens(tokens, 1)));
    list->SetColours(skin::ColourToken(tokens[5]), skin::ColourToken(tokens[6]), skin::ColourToken(tokens[7]),
                     skin::ColourToken(tokens[8]));
    list->show();
    list->CreateScrollBar(ScrollBitmaps(tokens, 9, load));
    list->SetupFileColumns();
    list->SetReportsDoubleClicks(true);
    m_lists.push_back(list);
  }
}

void CSkinDialog::ReadComboBoxes(const skin::LayoutFile& layout) {
  auto load = [this](const std::string& file) { return Bitmap(file); };
  for (const std::string& value : layout.NumberedValues("COMBOBOXINFO")) {
    const std::vector<std::string> tokens = skin::SplitTokens(value, kComboTokens);
    auto* combo = new CSkinComboBox(this, tokens[0], static_cast<int>(m_comboBoxes.size()), this);
    const CSkinComboBox::Colours colours{skin::ColourToken(tokens[6]),  skin::ColourToken(tokens[7]),
                                         skin::ColourToken(tokens[8]),  skin::ColourToken(tokens[9]),
                                         skin::ColourToken(tokens[10]), skin::ColourToken(tokens[11]),
                                         skin::ColourToken(tokens[12])};
    combo->Create(RectFrom(skin::RectTokens(tokens, 1)), Bitmap(tokens[5]), m_transparentColour, colours,
                  ScrollBitmaps(tokens, 13, load));
    combo->show();
    m_comboBoxes.push_back(combo);
  }
}

void CSkinDialog::ShowTimeOnLabel() {
  CSkinSlider* slider = FindSlider("SLIDER_PROGRESS");
  CLabel* label = FindLabel("LABEL_TIME");
  if (!slider || !label) return;
  label->SetText(SkinTimeText(slider->GetPos()) + "/" + SkinTimeText(slider->GetRangeMax()));
  label->update();
}

// ---- packages ----

void CSkinDialog::BuildSkinList(const std::string& folder) {
  m_skinList.clear();
  const std::string pattern = (folder.empty() ? std::string(".") : folder) + "/*.skn";
  WIN32_FIND_DATAA found{};
  HANDLE find = FindFirstFileA(pattern.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  auto nameOf = [](const WIN32_FIND_DATAA& data) {
    const std::string file = data.cFileName;
    const std::size_t dot = file.rfind('.');
    return dot == std::string::npos ? file : file.substr(0, dot);
  };
  m_skinList.push_back(nameOf(found));
  while (FindNextFileA(find, &found)) {
    if (std::string(found.cFileName) == "..") continue;
    if (m_skinList.size() < kMaximumSkins) m_skinList.push_back(nameOf(found));
  }
  FindClose(find);
}

bool CSkinDialog::ExtractSkin(const std::string& packagePath, const std::string& folder) {
  CZipArchive zip;
  bool opened = false;
  for (;;) {
    try {
      zip.Open(packagePath);
      opened = true;
    } catch (const CZipException& problem) {
      if (problem.m_iCause == CZipException::cdirNotFound) {
        // No is the default, so a host without a display does not retry forever.
        const int answer =
            MessageBoxA(nullptr, kCentralDirectoryQuestion, kMessageCaption, MB_YESNO | MB_ICONERROR | MB_DEFBUTTON2);
        if (answer == IDYES) {
          zip.Close();
          continue;
        }
      }
    }
    break;
  }
  if (!opened) {
    MessageBoxA(nullptr, app::LoadString(app::IDS_OPEN_FAILED).c_str(), kMessageCaption, MB_OK | MB_ICONERROR);
    return false;
  }
  bool failed = false;
  for (int entry = 0; entry < zip.GetCount(); ++entry) {
    try {
      zip.ExtractFile(entry, folder, kExtractBufferSize);
    } catch (const CZipException& problem) {
      std::fprintf(stderr, "skin package %s: %s\n", packagePath.c_str(), problem.m_strMessage.c_str());
      failed = true;
    }
  }
  if (failed) {
    zip.Close();
    MessageBoxA(nullptr, app::LoadString(app::IDS_EXTRACT_FAILED).c_str(), kMessageCaption, MB_OK | MB_ICONERROR);
  }
  zip.Close();
  return !failed;
}

std::string CSkinDialog::StoredLayoutFolder() { return LayoutFolderOfLastSkin(); }

void CSkinDialog::SetStoredLayoutFolder(const std::string& folder) { LayoutFolderOfLastSkin() = folder; }

std::string CSkinDialog::ProgramFolder() {
  std::string folder = LayoutFolderOfLastSkin();
  if (folder.empty()) {
    std::error_code error;
    return fs::current_path(error).string();
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : folder.substr(0, slash);
}

void CSkinDialog::ApplySkinPackage(const std::string& packagePath, const std::string& layoutPath) {
  // A working folder left behind by an earlier run must not supply files.
  RemoveWorkingFolder(kWorkingFolder);
  ExtractSkin(packagePath, kWorkingFolder);
  m_strLayoutPath = layoutPath;
  SetStoredLayoutFolder(GetLayoutFolder(layoutPath));
  LoadLayout();
  RemoveWorkingFolder(kWorkingFolder);
}

void CSkinDialog::SwitchSkin(int command) {
  OnBeforeSkinChange();
  int index = command - kFirstSkinCommand;
  // QWidget's own visibility: QDialog::hide() would end a modal run.
  QWidget::setVisible(false);
  if (index < 0 || index >= static_cast<int>(m_skinList.size())) index = 0;
  if (!m_skinList.empty()) {
    const std::string package = m_skinList[static_cast<std::size_t>(index)] + ".skn";
    const std::string programFolder = ProgramFolder();
    SetCurrentDirectoryA(programFolder.c_str());
    ApplySkinPackage(programFolder + "/" + package, std::string(kWorkingFolder) + "/Skin.ini");
    OnSkinChanged(command);
  }
  QWidget::setVisible(true);
  m_nSkinMenuPosition = index + 2;
}

void CSkinDialog::OnCommand(int command) {
  if (command == kOptionsCommand) {
    OnOptions();
  } else if (command >= kFirstSkinCommand && command <= kLastSkinCommand) {
    SwitchSkin(command);
  }
}

std::unique_ptr<QMenu> CSkinDialog::BuildSkinMenu() {
  auto menu = std::make_unique<QMenu>(this);
  // Drawn in the skin's colours: the caption's text colour on a darkened
  // version of the caption's background.
  if (m_pCaption && !m_backBuffer.isNull()) {
    const QRect captionArea = m_pCaption->geometry().intersected(m_backBuffer.rect());
    QColor base = captionArea.isEmpty() ? QColor(Qt::darkGray)
                                        : QColor(m_backBuffer.pixel(captionArea.center()));
    const QColor text = QColor::fromRgb(skin::OpaqueRgb(m_pCaption->TextColour()));
    const QColor highlight = base.lightnessF() > 0.5 ? base.darker(130) : base.lighter(160);
    menu->setStyleSheet(QStringLiteral("QMenu { background: %1; color: %2; border: 1px solid %2; }"
                                       "QMenu::item { padding: 4px 24px 4px 24px; }"
                                       "QMenu::item:selected { background: %3; }"
                                       "QMenu::separator { height: 1px; background: %2; margin: 3px 6px; }")
                            .arg(base.name(), text.name(), highlight.name()));
  }
  QAction* options = menu->addAction(QStringLiteral("Options"));
  options->setData(kOptionsCommand);
  menu->addSeparator();
  m_nNextMenuCommand = kFirstSkinCommand;
  for (const std::string& name : m_skinList) {
    QAction* entry = menu->addAction(QString::fromStdString(name));
    entry->setData(m_nNextMenuCommand++);
  }
  const QList<QAction*> entries = menu->actions();
  if (m_nSkinMenuPosition >= 0 && m_nSkinMenuPosition < entries.size() &&
      !entries[m_nSkinMenuPosition]->isSeparator()) {
    entries[m_nSkinMenuPosition]->setCheckable(true);
    entries[m_nSkinMenuPosition]->setChecked(true);
  }
  return menu;
}

void CSkinDialog::ShowContextMenu(const QPoint& globalPosition) {
  std::unique_ptr<QMenu> menu = BuildSkinMenu();
  QAction* chosen = menu->exec(globalPosition);
  if (!chosen) return;
  const int command = chosen->data().toInt();
  menu.reset();
  OnCommand(command);
}

// ---- access by name ----

namespace {

template <typename Control>
Control* FindByName(const std::vector<Control*>& controls, const std::string& name) {
  for (Control* control : controls) {
    if (control->Name() == name) return control;
  }
  return nullptr;
}

}  // namespace

CSkinButton* CSkinDialog::FindButton(const std::string& name) const { return FindByName(m_buttons, name); }
CSkinSlider* CSkinDialog::FindSlider(const std::string& name) const { return FindByName(m_sliders, name); }
CLabel* CSkinDialog::FindLabel(const std::string& name) const { return FindByName(m_labels, name); }
CSkinOption* CSkinDialog::FindOption(const std::string& name) const { return FindByName(m_options, name); }
CSkinProgress* CSkinDialog::FindProgress(const std::string& name) const { return FindByName(m_progresses, name); }
CSkinEdit* CSkinDialog::FindEdit(const std::string& name) const { return FindByName(m_edits, name); }
CSkinListCtrl* CSkinDialog::FindList(const std::string& name) const { return FindByName(m_lists, name); }
CSkinComboBox* CSkinDialog::FindComboBox(const std::string& name) const { return FindByName(m_comboBoxes, name); }

void CSkinDialog::EnableButton(const std::string& name, bool enable) {
  if (CSkinButton* button = FindButton(name)) button->setEnabled(enable);
}

void CSkinDialog::SetButtonDown(const std::string& name, bool down) {
  if (CSkinButton* button = FindButton(name)) button->SetDown(down);
}

bool CSkinDialog::IsButtonDown(const std::string& name) const {
  const CSkinButton* button = FindButton(name);
  return button && button->IsDown();
}

void CSkinDialog::SetButtonTip(const std::string& name, const std::string& text) {
  if (CSkinButton* button = FindButton(name)) button->SetTip(text);
}

void CSkinDialog::SetSliderPos(const std::string& name, int position) {
  if (CSkinSlider* slider = FindSlider(name)) slider->SetPos(position);
}

int CSkinDialog::GetSliderPos(const std::string& name) const {
  const CSkinSlider* slider = FindSlider(name);
  return slider ? slider->GetPos() : 0;
}

// ---- window events ----

void CSkinDialog::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (m_background.isNull()) {
    // No skin could be applied: a plain window, so that the program stays usable.
    painter.fillRect(rect(), palette().window());
    return;
  }
  painter.drawImage(QPoint(0, 0), m_background, QRect(QPoint(0, 0), size()));
  if (!m_icon.isNull()) {
    const QRect source(0, 0, std::max(0, m_iconRect.right - m_iconRect.left),
                       std::max(0, m_iconRect.bottom - m_iconRect.top));
    painter.drawImage(QPoint(m_iconRect.left, m_iconRect.top), m_icon, source);
  }
}

void CSkinDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    // Dragging the background moves the window, as dragging a caption does.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    m_bMovingWindow = true;
    m_moveOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    return;
  }
  QDialog::mousePressEvent(event);
}

void CSkinDialog::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  const QPoint global = event->globalPosition().toPoint();
  const bool leftDown = (event->buttons() & Qt::LeftButton) != 0;
  if (m_bMovingWindow && leftDown) move(global - m_moveOffset);
  // An open drop-down list closes once the mouse leaves its combo box. Each
  // combo box is served, not only the first.
  for (CSkinComboBox* combo : m_comboBoxes) {
    if (combo->IsListShown() && !combo->WholeArea().contains(point)) combo->ToggleList();
  }
  if (!m_lists.empty()) m_lists.front()->PassMouseMove(global, leftDown);
  for (CSkinComboBox* combo : m_comboBoxes) {
    if (combo->List()) combo->List()->PassMouseMove(global, leftDown);
  }
  OnSkinMouseMove(std::string(), point.x(), point.y());
}

void CSkinDialog::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) m_bMovingWindow = false;
  if (event->button() == Qt::RightButton) {
    ShowContextMenu(event->globalPosition().toPoint());
    return;
  }
  QDialog::mouseReleaseEvent(event);
}

void CSkinDialog::keyPressEvent(QKeyEvent* event) {
  if (IsSwallowedKey(event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool CSkinDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this && IsSwallowedKey(static_cast<QKeyEvent*>(event))) {
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
