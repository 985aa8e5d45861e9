#include "platform/widgets/ThumbnailSlots.h"

#include <QScrollArea>

namespace tevrak::platform {

namespace {

constexpr int slotWidth = 170;
constexpr int slotHeight = 135;
constexpr int captionHeight = 19;
constexpr std::array<int, 3> slotLefts{12, 208, 405};
constexpr std::array<int, 3> slotTops{10, 181, 352};

}  // namespace

QScrollArea* buildThumbnailSlots(QWidget* tab, const QString& scrollBoxName, int firstImage, int firstPanel,
                                 ThumbnailSlots& pageSlots)
{
    auto* scrollBox = new QScrollArea(tab);
    scrollBox->setObjectName(scrollBoxName);
    const int width = tab->width() > 400 ? tab->width() - 205 : 595;
    scrollBox->setGeometry(205, 0, width, tab->height() > 200 ? tab->height() : 530);
    auto* area = new QWidget;
    area->setObjectName(scrollBoxName + QStringLiteral("Area"));
    area->setFixedSize(slotLefts[2] + slotWidth + 12, slotTops[2] + slotHeight + captionHeight + 10);
    scrollBox->setWidget(area);
    for (size_t k = 0; k < pageSlots.size(); ++k) {
        ThumbnailSlot& slot = pageSlots[k];
        const int left = slotLefts[k % 3];
        const int top = slotTops[k / 3];
        slot.image = new ImageControl(area);
        slot.image->setObjectName(QStringLiteral("Image%1").arg(firstImage + static_cast<int>(k)));
        slot.image->setGeometry(left, top, slotWidth, slotHeight);
        slot.image->hide();
        slot.caption = new PanelControl(QString(), area);
        slot.caption->setObjectName(QStringLiteral("Panel%1").arg(firstPanel + static_cast<int>(k)));
        slot.caption->setColors(QColor(128, 128, 128), Qt::white);
        slot.caption->setLowered(true);
        QFont small = slot.caption->font();
        small.setPixelSize(9);
        slot.caption->setFont(small);
        slot.caption->setGeometry(left, top + slotHeight, slotWidth, captionHeight);
        slot.caption->hide();
    }
    return scrollBox;
}

}  // namespace tevrak::platform
