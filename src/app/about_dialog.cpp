#include "app/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "widgets/dialog_layout.h"
#include "widgets/resources.h"

namespace pellory::app {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      icon_(new QLabel(this)),
      version_(new QLabel(QString::fromLatin1(kAboutVersionText), this)),
      purpose_(new QLabel(QString::fromLatin1(kAboutPurposeText), this)),
      copyright_(new QLabel(QString::fromLatin1(kAboutCopyrightText), this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)) {
    using widgets::PlaceDu;
    using widgets::SetControlId;
    setWindowTitle(QString::fromLatin1(kAboutTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    const QIcon icon = widgets::ProgramIcon();
    setWindowIcon(icon);

    const widgets::DialogUnits du(font());
    setFixedSize(du.size(170, 62));

    icon_->setPixmap(icon.pixmap(32, 32));
    icon_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceDu(icon_, du, 7, 7, 24, 24);
    PlaceDu(version_, du, 36, 7, 127, 8);
    // The purpose takes two lines.
    purpose_->setWordWrap(true);
    purpose_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceDu(purpose_, du, 36, 17, 127, 16);
    PlaceDu(copyright_, du, 36, 34, 127, 8);
    PlaceDu(ok_, du, 113, 44, 50, 14);
    ok_->setDefault(true);

    SetControlId(icon_, kIdAboutIcon, QStringLiteral("aboutIcon"));
    SetControlId(version_, kIdAboutVersion, QStringLiteral("aboutVersion"));
    SetControlId(purpose_, kIdAboutPurpose, QStringLiteral("aboutPurpose"));
    SetControlId(copyright_, kIdAboutCopyright, QStringLiteral("aboutCopyright"));
    SetControlId(ok_, kIdAboutOk, QStringLiteral("aboutOk"));

    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace pellory::app
