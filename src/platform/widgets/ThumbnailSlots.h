#pragma once

#include "platform/widgets/Controls.h"

#include <QString>
#include <array>

class QScrollArea;

namespace tevrak::platform {

// One thumbnail slot of a picture page: the picture and the caption bar below it.
struct ThumbnailSlot {
    ImageControl* image = nullptr;
    PanelControl* caption = nullptr;
};

using ThumbnailSlots = std::array<ThumbnailSlot, 9>;

// The right-hand part of a picture tab: a scroll box holding nine slots,
// three per row from the top left, each a 170 x 135 picture with a grey
// 19-pixel caption bar (small white text) below it, hidden at first. The
// pictures are named "Image<firstImage>" onwards, the caption bars
// "Panel<firstPanel>" onwards.
QScrollArea* buildThumbnailSlots(QWidget* tab, const QString& scrollBoxName, int firstImage, int firstPanel,
                                 ThumbnailSlots& pageSlots);

}  // namespace tevrak::platform
