#pragma once
// Control, menu and resource IDs of the main window. Plain #defines: the
// resource script, the window, the presenter and the test driver all use them,
// so that the window can be automated and tested from outside.

#define IDI_APP 1
#define IDR_MAINMENU 100
#define IDR_VERSION 1

// Buttons
#define IDC_CMDSTART 1001
#define IDC_CMDSTOP 1002
#define IDC_CMDEXIT 1003
#define IDC_CMDBUTTON0 1004  // send the PC information by mail
#define IDC_CMDBUTTON1 1005  // change settings

// Frames
#define IDC_FRAMEMONITOR 1010
#define IDC_FRAMESYSTEM 1011
#define IDC_FRAMESECURITY 1012
#define IDC_FRAMEAPPLICATION 1013
#define IDC_FRAMESERVICES 1014
#define IDC_FRAMESETTING 1015
#define IDC_FRAMEMAIL 1016
#define IDC_FRAMECOMPUTER 1017
#define IDC_FRAMECHANNELS 1018  // shown while the rules name other channels

// List views
#define IDC_LSTSYSTEM 1020
#define IDC_LSTSECURITY 1021
#define IDC_LSTAPPLICATION 1022
#define IDC_LSTSERVICES 1023
#define IDC_LSTLOG1 1024
#define IDC_LSTLOG2 1025
#define IDC_LSTCHANNELS 1026

// Settings group
#define IDC_CHKSETTING0 1030  // auto-start
#define IDC_CHKSETTING1 1031  // minimise at start-up
#define IDC_CHKSETTING2 1032  // start as a service
#define IDC_LBLINTERVAL 1033
#define IDC_TXTINTERVAL 1034
#define IDC_LBLINTERVALUNIT 1035
#define IDC_LBLSTARTDATETIME 1036
#define IDC_TXTSTARTDATETIME 1037
#define IDC_LBLSTARTDATETIMEUNIT 1038

// Mail group
#define IDC_LBLMAILTO 1040
#define IDC_TXTSMTPTO 1041
#define IDC_LBLMAILFROM 1042
#define IDC_TXTSMTPFROM 1043
#define IDC_LBLMAILSUBJECT 1044
#define IDC_TXTSMTPSUBJECT 1045
#define IDC_TXTSMTPSERVER 1046
#define IDC_TXTSMTPPORT 1047

// Computer group
#define IDC_LBLTITLECOMPUTER 1050
#define IDC_LBLCOMPUTERNAME 1051
#define IDC_LBLTITLEUSER 1052
#define IDC_LBLUSERNAME 1053

#define IDC_STATUSBAR1 1060

// Menu items: File, Options, Help
#define IDM_FILE0 2000  // start
#define IDM_FILE1 2001  // stop
#define IDM_FILE2 2002  // exit
#define IDM_SETTING0 2010  // monitoring rules
#define IDM_SETTING1 2011  // application settings
#define IDM_HELP0 2020  // contents
#define IDM_HELP1 2021  // search by keyword
#define IDM_HELP3 2023  // version information

// Window messages of the program's own
#define ZKQ_WM_TRAYICON 0x8001  // WM_APP + 1: notification-icon callback
