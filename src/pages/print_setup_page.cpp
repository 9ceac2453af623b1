#include "pages/print_setup_page.h"

namespace pellory::pages {

CDialogPSetup::CDialogPSetup(QWidget* parent) : QWidget(parent), PageLink({link::kOpenErrorText, false}) {}

CDialogPSetup::~CDialogPSetup() = default;

void CDialogPSetup::InitPrintSetupPage() {}

void CDialogPSetup::SetNumberFields(const QString& /*lineSpace*/, const QString& /*left*/, const QString& /*right*/) {}

}  // namespace pellory::pages
