// A one-line edit box in the skin's colours with a one-pixel border.
#pragma once

#include <QLineEdit>

#include "app/skin/SkinElement.h"

class CSkinEdit : public QLineEdit, public CSkinElement {
 public:
  CSkinEdit(CSkinDialog* owner, const std::string& name, int index, QWidget* parent);

  // Colours are 0xRRGGBB; skin::kNoColour keeps the current one.
  void SetColours(std::uint32_t background, std::uint32_t text, std::uint32_t border);
  std::uint32_t BackgroundColour() const { return m_background; }
  std::uint32_t TextColour() const { return m_text; }
  std::uint32_t BorderColour() const { return m_border; }

  void SetWindowText(const std::string& text) { setText(QString::fromStdString(text)); }
  std::string GetWindowText() const { return text().toStdString(); }

 private:
  void ApplyColours();

  std::uint32_t m_background = 0x98E4E7;  // the COLORREF 0xE7E498
  std::uint32_t m_text = 0x000000;
  std::uint32_t m_border = 0xFFFFFF;
};
