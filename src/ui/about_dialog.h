#pragma once
// CAboutDlg: the About box of Help > About.
#include <QDialog>

#include "qv_version.h"

namespace qv::ui {

inline constexpr const char* kAboutCaption = "About Quelvane Configuration Tool";
inline constexpr const char* kAboutText = "qvConfig Version " QV_VERSION;

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace qv::ui
