#include "ui/app_icon.h"

#include <QWidget>

// The resource lives in a static library: its registration is called for, not left to chance.
static void initIconResource() {
    Q_INIT_RESOURCE(qv_icons);
}

namespace qv::ui {

QIcon applicationIcon() {
    static const QIcon icon = [] {
        initIconResource();
        QIcon i;
        for (const int size : {16, 24, 32, 48, 64, 128, 256})
            i.addFile(QString(":/icons/qvconfig-%1.png").arg(size), QSize(size, size));
        return i;
    }();
    return icon;
}

void setApplicationIcon(QWidget& window) {
    window.setWindowIcon(applicationIcon());
}

}  // namespace qv::ui
