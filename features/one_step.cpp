// One-step reports and actions.
#include "app/KT6200DemoDlg.h"

namespace kt {

void CKT6200DemoDlg::OnBnClickedBtnIcInfo() {}
void CKT6200DemoDlg::OnBnClickedBtnLunInfo() {}
void CKT6200DemoDlg::OnBnClickedBtnCfg1Lun() {}
void CKT6200DemoDlg::OnBnClickedBtnCfg1LunDisabled() {}
void CKT6200DemoDlg::OnBnClickedBtnWorkMode() {}
void CKT6200DemoDlg::OnBnClickedButtonReset() {}
void CKT6200DemoDlg::OnBnClickedButtonUpdate() {}

}  // namespace kt
