// The catalogue of generated interface images: resource path → drawing.
// Used only by the build-time generator; single-threaded.
#ifndef QNCHAT_RESOURCES_GENERATOR_IMAGES_H_
#define QNCHAT_RESOURCES_GENERATOR_IMAGES_H_

#include <QImage>
#include <QString>

#include <functional>
#include <vector>

namespace resgen {

struct ImageEntry {
  QString path;                        // relative to the resource root, e.g. "image/logo.png"
  std::function<QImage(int scale)> draw;
  bool hidpi;                          // also write "<name>@2x.png" for Qt's high-DPI lookup
};

// Every image of the compiled resources, emoji and shadows included.
std::vector<ImageEntry> AllImages();

// The application icon at size x size, drawn for that size (hicolor theme).
QImage AppIcon(int size);

// Renders the emoji faces; false when the colour emoji font is unusable, in which
// case the faces are drawn as flat vector smileys instead.
bool EmojiFontAvailable();

}  // namespace resgen

#endif  // QNCHAT_RESOURCES_GENERATOR_IMAGES_H_
