// skindemo: opens a skinned window from a skin package and logs, one line
// each on stdout, the hooks the window receives.
//
//   skindemo [--folder DIR] [--skin NAME] [--conversion] [--sample]
//            [--list] [--click NAME]... [--switch NAME] [--open-combo]
//            [--grab FILE.png] [--quit-after MS]
//
// --folder      the program folder holding the *.skn packages (default: the
//               folder of this program); it becomes the current folder
// --skin        the package to open (default: the first one found)
// --conversion  apply the conversion window's layout (ConvertSkin.ini)
// --sample      fill the list, the combo box and the progress bar with sample data
// --list        print every element: kind, name, x, y, width, height
// --click       click the named button or option once the window is up
// --switch      switch to the named skin once the window is up
// --open-combo  open the first combo box's list once the window is up
// --grab        save a picture of the window
// --quit-after  close the window after MS milliseconds (default: stay open)
#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/skin/SkinDialog.h"
#include "platform/win/System.h"

namespace {

class DemoWindow : public CSkinDialog {
 public:
  explicit DemoWindow(bool conversion) : m_bConversion(conversion) {}

  void OnButtonClicked(const std::string& name) override { Log("OnButtonClicked " + name); }
  void OnOptionClicked(const std::string& name) override { Log("OnOptionClicked " + name); }
  void OnListDoubleClick() override { Log("OnListDoubleClick"); }
  void OnSliderMoved(const std::string& name, int position) override {
    Log("OnSliderMoved " + name + " " + std::to_string(position));
  }
  void OnBeforeSkinChange() override { Log("OnBeforeSkinChange"); }
  void OnSkinChanged(int command) override { Log("OnSkinChanged " + std::to_string(command)); }
  void OnOptions() override { Log("OnOptions"); }
  void LoadLayout() override {
    if (m_bConversion) {
      LoadConversionLayout();
    } else {
      CSkinDialog::LoadLayout();
    }
  }

 private:
  static void Log(const std::string& line) {
    std::cout << line << std::endl;
  }
  bool m_bConversion;
};

void FillSample(DemoWindow& window) {
  if (!window.Lists().empty()) {
    CSkinListCtrl* list = window.Lists().front();
    const char* files[] = {"/home/user/Videos/holiday-2025.mp4", "/home/user/Videos/birthday.mov",
                           "/home/user/Videos/lecture-01.wmv",   "/home/user/Videos/concert.flv",
                           "/home/user/Videos/trailer.mpg",      "/home/user/Videos/phone-clip.3gp",
                           "/home/user/Videos/interview.avi",    "/home/user/Videos/garden.vob",
                           "/home/user/Videos/match.rmvb",       "/home/user/Videos/wedding.mp4",
                           "/home/user/Videos/drone.mov",        "/home/user/Videos/recital.mp4"};
    // Enough rows that the list can scroll and its bar shows.
    for (int round = 0; round < 2; ++round) {
      for (const char* file : files) list->AddItem(round == 0 ? file : std::string(file) + ".bak", "0", "0");
    }
    list->topLevelItem(1)->setSelected(true);
  }
  if (!window.ComboBoxes().empty()) {
    CSkinComboBox* combo = window.ComboBoxes().front();
    for (const char* profile : {"DivX 640x480", "Xvid 720x576 PAL", "MJPEG 320x240", "Uncompressed 352x288"}) {
      combo->AddString(profile);
    }
    combo->Edit()->setText(QStringLiteral("DivX 640x480"));
  }
  if (!window.Edits().empty()) window.Edits().front()->SetWindowText("/home/user/Converted");
  if (CSkinSlider* slider = window.FindSlider("SLIDER_PROGRESS")) {
    slider->SetRange(0, 3725);
    slider->SetPos(1290);
    if (CLabel* time = window.FindLabel("LABEL_TIME")) {
      time->SetText(SkinTimeText(slider->GetPos()) + "/" + SkinTimeText(slider->GetRangeMax()));
    }
  }
  for (CSkinProgress* progress : window.Progresses()) {
    progress->SetRange(0, 100);
    progress->SetPos(62);
  }
}

void ListElements(const DemoWindow& window) {
  auto print = [](const char* kind, const std::string& name, const QWidget* widget) {
    const QRect area = widget->geometry();
    std::cout << kind << " " << name << " " << area.x() << " " << area.y() << " " << area.width() << " "
              << area.height() << "\n";
  };
  for (auto* control : window.Buttons()) print("button", control->Name(), control);
  for (auto* control : window.Options()) print("option", control->Name(), control);
  for (auto* control : window.Sliders()) print("slider", control->Name(), control);
  for (auto* control : window.Labels()) print("label", control->Name(), control);
  for (auto* control : window.Progresses()) print("progress", control->Name(), control);
  for (auto* control : window.Edits()) print("edit", control->Name(), control);
  for (auto* control : window.Lists()) print("list", control->Name(), control);
  for (auto* control : window.ComboBoxes()) print("combo", control->Name(), control);
  if (window.Caption()) print("caption", window.Caption()->Name(), window.Caption());
  const RECT area = window.ControlArea();
  std::cout << "control " << area.left << " " << area.top << " " << area.right - area.left << " "
            << area.bottom - area.top << "\n";
  std::cout << "window " << window.width() << " " << window.height() << std::endl;
}

void Click(QWidget* widget) {
  const QPointF centre(widget->width() / 2.0, widget->height() / 2.0);
  const QPointF global = widget->mapToGlobal(centre);
  QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &release);
}

std::string ExecutableFolder() {
  char path[4096];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length < sizeof path ? length : 0);
  const std::size_t slash = folder.rfind('/');
  return slash == std::string::npos ? "." : folder.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::string folder = ExecutableFolder();
  std::string skinName;
  std::string switchTo;
  std::string grabFile;
  std::vector<std::string> clicks;
  bool conversion = false;
  bool sample = false;
  bool list = false;
  bool openCombo = false;
  int quitAfter = -1;
  for (int argument = 1; argument < argc; ++argument) {
    const std::string option = argv[argument];
    auto value = [&]() -> std::string {
      if (argument + 1 >= argc) {
        std::cerr << "skindemo: " << option << " needs a value\n";
        std::exit(2);
      }
      return argv[++argument];
    };
    if (option == "--folder") folder = value();
    else if (option == "--skin") skinName = value();
    else if (option == "--switch") switchTo = value();
    else if (option == "--grab") grabFile = value();
    else if (option == "--click") clicks.push_back(value());
    else if (option == "--quit-after") quitAfter = std::atoi(value().c_str());
    else if (option == "--conversion") conversion = true;
    else if (option == "--sample") sample = true;
    else if (option == "--list") list = true;
    else if (option == "--open-combo") openCombo = true;
    else {
      std::cerr << "skindemo: unknown option " << option << "\n";
      return 2;
    }
  }

  if (!SetCurrentDirectoryA(folder.c_str())) {
    std::cerr << "skindemo: cannot enter " << folder << "\n";
    return 1;
  }
  DemoWindow window(conversion);
  window.BuildSkinList(".");
  if (window.SkinList().empty()) {
    std::cerr << "skindemo: no *.skn package in " << folder << "\n";
    return 1;
  }
  int index = 0;
  if (!skinName.empty()) {
    index = -1;
    for (std::size_t position = 0; position < window.SkinList().size(); ++position) {
      if (window.SkinList()[position] == skinName) index = static_cast<int>(position);
    }
    if (index < 0) {
      std::cerr << "skindemo: no package " << skinName << ".skn\n";
      return 1;
    }
  }
  char current[4096];
  GetCurrentDirectoryA(sizeof current, current);
  window.ApplySkinPackage(std::string(current) + "/" + window.SkinList()[static_cast<std::size_t>(index)] + ".skn",
                          conversion ? "Tmp/ConvertSkin.ini" : "Tmp/Skin.ini");
  window.SetSkinMenuPosition(index + 2);
  if (sample) FillSample(window);
  window.show();
  if (list) ListElements(window);

  QTimer::singleShot(100, &window, [&]() {
    for (const std::string& name : clicks) {
      QWidget* target = window.FindButton(name);
      if (!target) target = window.FindOption(name);
      if (!target) {
        std::cout << "no element " << name << std::endl;
        continue;
      }
      Click(target);
    }
    if (!switchTo.empty()) {
      for (std::size_t position = 0; position < window.SkinList().size(); ++position) {
        if (window.SkinList()[position] == switchTo) {
          window.OnCommand(CSkinDialog::kFirstSkinCommand + static_cast<int>(position));
          if (sample) FillSample(window);
          if (list) ListElements(window);
        }
      }
    }
    if (openCombo && !window.ComboBoxes().empty()) Click(window.ComboBoxes().front()->Button());
    if (!grabFile.empty()) {
      if (!window.grab().save(QString::fromStdString(grabFile))) std::cerr << "skindemo: cannot save " << grabFile << "\n";
    }
  });
  if (quitAfter >= 0) QTimer::singleShot(quitAfter, &window, [&]() { window.done(0); });
  window.exec();
  return 0;
}
