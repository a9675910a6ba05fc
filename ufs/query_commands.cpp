// The engineering panel: flags, attributes, descriptors and DME reads.
#include "app/KT6200DemoDlg.h"

namespace kt {

void CKT6200DemoDlg::OnFlagRead() {}
void CKT6200DemoDlg::OnFlagClear() {}
void CKT6200DemoDlg::OnFlagSet() {}
void CKT6200DemoDlg::OnFlagToggle() {}
void CKT6200DemoDlg::OnAttributeRead() {}
void CKT6200DemoDlg::OnAttributeWrite() {}
void CKT6200DemoDlg::OnDescriptorRead() {}
void CKT6200DemoDlg::OnDescriptorWrite() {}
void CKT6200DemoDlg::OnDmeRead() {}

}  // namespace kt
