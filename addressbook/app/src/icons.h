// The application's own pictures, drawn here with QPainter (no artwork files):
// the folder and group icons 1-101, the status overlay, the application icon
// and the splash picture.
//
// Icon 1 marks a record without a folder. Icons 2-101 are what the icon
// chooser offers: ten shapes (folder, people, star, heart, building,
// envelope, flag, tag, diamond, book) in ten colours. A new document's
// folders use 2-6 (folders) and its groups 7-11 (people). Each icon is drawn
// separately at 16, 32 and 48 pixels with a dark outline, so that it stays
// clear at the list's small size.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <cstdint>

namespace tarn::gpsend {

inline constexpr int kFirstIcon = 1;
inline constexpr int kFirstChoosableIcon = 2;
inline constexpr int kLastIcon = 101;

// Icon `number`; a number outside 1-101 (a damaged file) gives icon 1.
QIcon folderIcon(int number);
// The icon with the status overlay drawn over its lower right corner.
QIcon folderIconWithOverlay(int number);
// The roots of the tree.
QIcon allRecordsIcon();
QIcon groupsRootIcon();

QIcon applicationIcon();
// The application icon at one size (for the installed PNG files).
QImage applicationImage(int size);

// The splash window's picture; draws text, so a QGuiApplication must exist.
QPixmap splashPicture();

}  // namespace tarn::gpsend
