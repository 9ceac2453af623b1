// The About box: the program icon, name and version, and two lines about the program.
#pragma once

#include <QDialog>

#include "pellory_version.h"

class QLabel;
class QPushButton;

namespace pellory::app {

inline constexpr const char* kAboutTitle = "About Pellory";
inline constexpr const char* kAboutVersionText = "Pellory, Version " PELLORY_VERSION;
inline constexpr const char* kAboutPurposeText =
    "Tests and sets up ORVA58 and ORVA80 receipt printers";
inline constexpr const char* kAboutCopyrightText = "(c) 2026 the Pellory developers";

// Control ids of the About box.
inline constexpr int kIdAboutIcon = 1100;
inline constexpr int kIdAboutVersion = 1101;
inline constexpr int kIdAboutPurpose = 1102;
inline constexpr int kIdAboutCopyright = 1103;
inline constexpr int kIdAboutOk = 1;  // IDOK

class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QPushButton* OkButton() const { return ok_; }

private:
    QLabel* icon_;
    QLabel* version_;
    QLabel* purpose_;
    QLabel* copyright_;
    QPushButton* ok_;
};

}  // namespace pellory::app
