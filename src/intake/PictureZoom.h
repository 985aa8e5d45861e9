#pragma once

// Enlarging a picture: the picture on the A4 print page, in the print preview.

#include <QString>
#include <memory>

class QWidget;

namespace tevrak::intake {

class TPreview;

// The picture's height on the print page, in screen pixels: 1024 (270.93 mm)
// when the caption's last three characters are "GIF" in any case, so that a
// document fills nearly the whole page; otherwise 540 (142.88 mm), a photo
// across the upper half of the page.
int printHeightFor(const QString& captionText);

// A print page holding the picture at `path` (a Windows path such as
// "c:\picture\IMG_1.JPG", or a local one) sized for `captionText`. Raises
// tevrak::Error naming the file when the picture cannot be read or decoded.
std::unique_ptr<TPreview> makePrintPage(const QString& path, const QString& captionText,
                                        QWidget* parent = nullptr);

// Zoom: loads the picture onto a print page of its own, runs the modal
// preview and returns when the user has closed it; the page is released on
// every way out. A picture that cannot be shown raises tevrak::Error and no
// preview opens. While a preview is open a further request does nothing and
// returns false.
bool zoomPicture(const QString& path, const QString& captionText, QWidget* parent = nullptr);

// True while a zoom's preview is open.
bool zoomInProgress();

} // namespace tevrak::intake
