#pragma once
// The sending window's dialog template and its controls, for the program and
// for automation from outside.
#define IDD_SENDEMAIL 3000
#define IDC_SEND_LBLTITLE 3001
#define IDC_SEND_STATUSBAR1 3002
#define IDC_SEND_PROGRESSBAR1 3003
#define IDC_SEND_CMDBUTTON0 3004  // 送信(&S)
#define IDC_SEND_CMDBUTTON1 3005  // 終了(&X)
#define IDC_SEND_FRAME1 3006
