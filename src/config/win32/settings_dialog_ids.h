#pragma once
// The settings dialog's template and its controls, for the program and for
// automation from outside.
#define IDD_SETTING 5000
#define IDC_SET_FRAMESERVICE 5001
#define IDC_SET_CHKSETTING2 5002  // サービスとして登録する
#define IDC_SET_LBLSERVICENOTE 5003
#define IDC_SET_FRAMESTART 5004
#define IDC_SET_LBLSTAMP 5005
#define IDC_SET_TXTDATESTAMP 5006
#define IDC_SET_TXTTIMESTAMP 5007
#define IDC_SET_LBLFROMON 5008
#define IDC_SET_LBLINTERVAL 5009
#define IDC_SET_TXTINTERVAL 5010
#define IDC_SET_LBLMINUTES 5011
#define IDC_SET_CHKSETTING0 5012  // 起動時に自動スタートする
#define IDC_SET_CHKSETTING1 5013  // 起動時にアイコン化する
#define IDC_SET_FRAMEMAIL 5014
#define IDC_SET_LBLFROM 5015
#define IDC_SET_TXTFROM 5016
#define IDC_SET_LBLTO 5017
#define IDC_SET_TXTTO 5018
#define IDC_SET_LBLSUBJECT 5019
#define IDC_SET_TXTSUBJECT 5020
#define IDC_SET_LBLPORT 5021
#define IDC_SET_TXTSMTPPORT 5022
#define IDC_SET_LBLSERVER 5023
#define IDC_SET_TXTSMTPSERVER 5024
#define IDC_SET_CMDBUTTON0 5025  // 保存(&S)
#define IDC_SET_CMDBUTTON1 5026  // ｷｬﾝｾﾙ(&C)
#define IDC_SET_LBLHEADING 5027  // アプリケーション設定画面
// The connection's security and login, and the test mail (5040 on, leaving
// room below for the dialog's other controls).
#define IDC_SET_LBLSECURITY 5040
#define IDC_SET_CBOSECURITY 5041  // なし / STARTTLS / SSL/TLS
#define IDC_SET_LBLUSER 5042
#define IDC_SET_TXTUSER 5043
#define IDC_SET_LBLPASSWORD 5044
#define IDC_SET_TXTPASSWORD 5045
#define IDC_SET_CMDBUTTON2 5046  // テスト送信(&T)
#define IDC_SET_CHKALERTDETAIL 5047  // 警告メールにイベントの説明を含める
// The time of the daily report (6000 on, apart from the login's range).
#define IDC_SET_LBLHEARTBEAT 6001  // 稼動報告の時刻：
#define IDC_SET_TXTHEARTBEAT 6002
// OAuth 2.0 (5060 on).
#define IDC_SET_LBLAUTH 5060
#define IDC_SET_CBOAUTH 5061  // パスワード / OAuth 2.0
#define IDC_SET_LBLTENANT 5062
#define IDC_SET_TXTTENANT 5063
#define IDC_SET_LBLCLIENTID 5064
#define IDC_SET_TXTCLIENTID 5065
#define IDC_SET_LBLSECRET 5066
#define IDC_SET_TXTSECRET 5067
