#include "app/skin/SkinEdit.h"

#include <QFont>

#include "app/skin/SkinLayout.h"

namespace {

QString CssColour(std::uint32_t rgb) { return QStringLiteral("#%1").arg(rgb & 0xFFFFFF, 6, 16, QLatin1Char('0')); }

}  // namespace

CSkinEdit::CSkinEdit(CSkinDialog* owner, const std::string& name, int index, QWidget* parent)
    : QLineEdit(parent), CSkinElement(owner, name, index) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  ApplyColours();
}

void CSkinEdit::SetColours(std::uint32_t background, std::uint32_t text, std::uint32_t border) {
  if (background != skin::kNoColour) m_background = background & 0xFFFFFF;
  if (text != skin::kNoColour) m_text = text & 0xFFFFFF;
  if (border != skin::kNoColour) m_border = border & 0xFFFFFF;
  ApplyColours();
}

// The same colours whether the box is enabled or not: a display-only box must
// stay readable.
void CSkinEdit::ApplyColours() {
  const QString style = QStringLiteral(
                            "QLineEdit, QLineEdit:disabled { background: %1; color: %2; border: 1px solid %3;"
                            " padding: 0px 2px; selection-background-color: %2; selection-color: %1; }")
                            .arg(CssColour(m_background), CssColour(m_text), CssColour(m_border));
  setStyleSheet(style);
}
