// A transparent text label: the window's background under it, then its text,
// top-left aligned, in its own font and colour.
#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>

#include "app/skin/SkinElement.h"

class CLabel : public QWidget, public CSkinElement {
 public:
  CLabel(CSkinDialog* owner, const std::string& name, int index, QWidget* parent);

  void SetText(const std::string& text);
  std::string GetText() const { return m_strText; }
  // 0xRRGGBB; skin::kNoColour keeps the current colour.
  void SetTextColour(std::uint32_t rgb);
  std::uint32_t TextColour() const { return m_textColour; }
  void SetFontName(const std::string& face);
  // Size in points, as a layout gives it.
  void SetFontSize(int points);
  const QFont& Font() const { return m_font; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string m_strText;
  std::uint32_t m_textColour = 0xFFFFFF;
  QFont m_font;
};
