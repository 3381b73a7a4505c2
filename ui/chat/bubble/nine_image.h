// A nine-patch picture: corners keep their shape, edges stretch along one
// axis and the centre along both, so one small image frames a bubble of any
// size. Plain value; GUI thread (painting).
#pragma once

#include <QImage>
#include <QMargins>
#include <QRect>

class QPainter;

namespace qn {

class NineImage : public QImage {
 public:
  NineImage() = default;
  // Loads path. The slicing and content margins come from the image's text
  // chunks "NinePatch" and "NinePatchContent" ("left,top,right,bottom"); an
  // image without them is cut into thirds and has no content margins.
  explicit NineImage(const QString& path);

  // The fixed border of the image (corners and edge thickness).
  QMargins Slices() const { return slices_; }
  // Where content sits inside the picture, measured from its edges.
  QMargins ContentMargins() const { return content_; }

  // Draws the picture over target. scale enlarges the fixed border the same
  // way the rest of the interface is enlarged; a target smaller than the
  // border shrinks the border so that nothing overlaps.
  void Draw(QPainter* painter, const QRect& target, double scale = 1.0) const;

 private:
  QMargins slices_;
  QMargins content_;
};

}  // namespace qn
