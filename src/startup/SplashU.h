#pragma once

#include <QWidget>

class QFrame;

namespace tevrak::platform {
class ImageControl;
}

namespace tevrak {

// The splash shown for three seconds at start-up: a car picture with the
// insurer's name and the program's name in extruded red letters.
class TSplash : public QWidget {
    Q_OBJECT
public:
    explicit TSplash(QWidget* parent = nullptr);

    QFrame* Panel1 = nullptr;
    platform::ImageControl* Image1 = nullptr;
    QWidget* Label1 = nullptr;  // the company name
    QWidget* Label2 = nullptr;  // "TEVRAK"
    QFrame* Bevel1 = nullptr;

    // The car picture of the splash, drawn by the program (832 x 624).
    static QImage carPicture();
};

}  // namespace tevrak
