#pragma once
// Files dropped from the file manager onto a file box: the first dropped
// file is handed to take(); drops without a local file are left to the box.
#include <QString>
#include <functional>

class QWidget;

namespace tk {

void acceptFileDrops(QWidget* box, std::function<void(const QString&)> take);

} // namespace tk
