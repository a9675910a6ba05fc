// Interface language: captions from Config.ini in the program directory.
#include "app/KT6200DemoDlg.h"

namespace kt {

std::string CKT6200DemoDlg::GetConfigPath() const { return m_strAppDir + "Config.ini"; }

void CKT6200DemoDlg::ApplyLanguage(int /*n*/) {}
void CKT6200DemoDlg::OnLanguage() {}

}  // namespace kt
