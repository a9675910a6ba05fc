// SCSI identification of the storage behind the programmer.
#include "app/KT6200DemoDlg.h"

namespace kt {

void CKT6200DemoDlg::OnInquiry() {}
void CKT6200DemoDlg::OnGetCapacity() {}

}  // namespace kt
