#pragma once
// The rules editor's dialog template and its controls, for the program and for
// automation from outside. Panel k (0 System, 1 Security, 2 Application,
// 3 Services, 4 the other channels) has its controls at IDC_RULES_PANEL0 + 20 k
// + the offsets below.
#define IDD_RULES 4000
#define IDC_RULES_LBLWINDOW 4001
#define IDC_RULES_CMDBUTTON0 4002  // 保存(&S)
#define IDC_RULES_CMDBUTTON1 4003  // ｷｬﾝｾﾙ(&C)
#define IDI_RULES_ARROW_UP 4004
#define IDI_RULES_ARROW_DOWN 4005

#define IDC_RULES_PANEL0 4100
#define IDC_RULES_PANEL_STEP 20
#define IDC_RULES_OFS_LIST 0
#define IDC_RULES_OFS_UP 1
#define IDC_RULES_OFS_DOWN 2
#define IDC_RULES_OFS_REGISTER 3
#define IDC_RULES_OFS_DELETE 4
#define IDC_RULES_OFS_FRAME 5
// + the field: target, type, source, category, event ID, service, state, channel
#define IDC_RULES_OFS_FIELD 6
