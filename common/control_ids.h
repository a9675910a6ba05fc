// Resource and control identifiers of the main dialog and the About box.
#pragma once

namespace kt {

// Templates, strings and icons.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_MAIN_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

// Dialog results and the two standard buttons.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

inline constexpr int IDC_COMBO_DEVICE = 1000;
inline constexpr int IDC_EDIT_LOG = 1001;
inline constexpr int IDC_BTN_INQUIRY = 1002;
inline constexpr int IDC_BTN_CAPACITY = 1003;
inline constexpr int IDC_BTN_FLAG_CLEAR = 1004;
inline constexpr int IDC_BTN_READ_SECTORS = 1006;
inline constexpr int IDC_BTN_WRITE_SECTORS = 1007;
inline constexpr int IDC_BTN_FLAG_READ = 1008;
inline constexpr int IDC_BTN_ATTR_READ = 1009;
inline constexpr int IDC_BTN_ATTR_WRITE = 1010;
inline constexpr int IDC_BTN_DESC_READ = 1011;
inline constexpr int IDC_BTN_DESC_WRITE = 1012;
inline constexpr int IDC_EDIT_IDN = 1013;
inline constexpr int IDC_BTN_FLAG_SET = 1014;
inline constexpr int IDC_BTN_FLAG_TOGGLE = 1015;
inline constexpr int IDC_EDIT_INDEX = 1016;
inline constexpr int IDC_EDIT_SELECTOR = 1017;
inline constexpr int IDC_EDIT_VALUE = 1018;
inline constexpr int IDC_EDIT_START_SECTOR = 1019;
inline constexpr int IDC_EDIT_SECTOR_COUNT = 1020;
inline constexpr int IDC_EDIT_PACKET_SIZE = 1021;
inline constexpr int IDC_BTN_DME_READ = 1022;
inline constexpr int IDC_EDIT_DME_REG = 1023;
inline constexpr int IDC_COMBO_DME_TYPE = 1024;
inline constexpr int IDC_BTN_IC_INFO = 1025;
inline constexpr int IDC_BTN_LUN_INFO = 1026;
inline constexpr int IDC_BTN_CFG_1_LUN = 1027;
inline constexpr int IDC_BTN_WORK_MODE = 1028;
inline constexpr int IDC_BUTTON_LANGUAGE = 1029;
inline constexpr int IDC_STATIC_UFS_FEATURE = 1030;
inline constexpr int IDC_STATIC_ONE_STEP_FEATURE = 1031;
inline constexpr int IDC_STATIC_COMMON = 1032;
inline constexpr int IDC_STATIC_PARAMETER = 1033;
inline constexpr int IDC_BUTTON_RESET = 1034;
inline constexpr int IDC_STATIC_UPDATE = 1035;
inline constexpr int IDC_BUTTON_UPDATE = 1036;
inline constexpr int IDC_BTN_CFG_1_LUN_DISABLED = 1037;
// The sector transfer's progress bar, a control of the program's own.
inline constexpr int IDC_PROGRESS_TRANSFER = 1038;
// The status line under the transfer band: why the pane's last message came
// (the library's reason, a file's path and error), cleared with the pane.
inline constexpr int IDC_STATIC_STATUS = 1039;

// About box: the version line shares its number with the Reset button,
// as each template numbers its own controls.
inline constexpr int IDC_STATIC_VERSION = 1034;

// Controls without an identifier of their own (labels, plain group boxes).
inline constexpr int IDC_STATIC = -1;

}  // namespace kt
