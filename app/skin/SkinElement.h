// What every skinned control has: its layout name, its index (its position
// among the controls of its kind), and the skinned window that owns it and
// receives its hooks.
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <QRect>
#include <cstdint>
#include <string>

class CSkinDialog;

class CSkinElement {
 public:
  CSkinElement(CSkinDialog* owner, std::string name, int index)
      : m_pOwner(owner), m_strName(std::move(name)), m_nIndex(index) {}
  virtual ~CSkinElement() = default;

  const std::string& Name() const { return m_strName; }
  int Index() const { return m_nIndex; }
  CSkinDialog* Owner() const { return m_pOwner; }

 protected:
  // The owner's back buffer under `area` (owner client coordinates); null
  // when there is no owner or no skin.
  QImage BackgroundUnder(const QRect& area) const;
  // The owner's transparent colour (0xRRGGBB, or skin::kNoColour).
  std::uint32_t TransparentColour() const;
  // Paints what the skin shows under `widget` (snapshotted at its first
  // paint), so that the control looks drawn on the skin; without a skin,
  // the widget's window colour.
  void PaintBackgroundSnapshot(QPainter& painter, const QWidget& widget);
  // After the control moved or changed size: the next paint snapshots anew.
  void RetakeBackgroundSnapshot() { m_bSnapshotTaken = false; }

 private:
  CSkinDialog* m_pOwner;
  std::string m_strName;
  int m_nIndex;
  QImage m_backgroundSnapshot;
  bool m_bSnapshotTaken = false;
};
