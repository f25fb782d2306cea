// The database-send application's icon, drawn in code so that every size is
// sharp: the window's icon, the version box, and the PNG files a desktop
// takes (tools/make_icons.cpp).
#pragma once

#include <QIcon>
#include <QImage>

namespace tarn::dbsendapp {

QImage applicationImage(int size);
QIcon applicationIcon();

}  // namespace tarn::dbsendapp
