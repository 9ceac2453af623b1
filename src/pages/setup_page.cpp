#include "pages/setup_page.h"

namespace pellory::pages {

CDialogSetup::CDialogSetup(QWidget* parent) : QWidget(parent), PageLink({link::kOpenErrorText, true}) {}

CDialogSetup::~CDialogSetup() = default;

void CDialogSetup::InitSetupPage() {}

void CDialogSetup::CheckComRadio() {}

}  // namespace pellory::pages
