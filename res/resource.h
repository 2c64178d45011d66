// Resource and control ids of velmora.dll. Read by the resource compiler
// and by the window code alike: plain #defines only.
#pragma once

// ---- dialogs
#define IDD_MAIN                 210
#define IDD_PAGE_ENCODER         183
#define IDD_PAGE_SERVER          136
#define IDD_PAGE_YP              133
#define IDD_ENCODER_SETUP        228
#define IDD_AUTH                 217

// ---- menu (also the tray icon's identifier)
#define IDR_POPUPS               186

// ---- icons
#define IDI_STREAMING            179
#define IDI_IDLE                 180
#define IDI_STREAM_UP            221
#define IDI_STREAM_DOWN          222

// ---- main window (210)
#define IDC_TAB_VIEW             40030
#define IDC_STREAM_UP            40060
#define IDC_STREAM_DOWN          40035
#define IDC_STREAM_LIST          40010
#define IDC_ADD_STREAM           40155
#define IDC_REMOVE_STREAM        40100
#define IDC_TITLE_FORMAT         40205
#define IDC_UPDATE_METADATA      40270
#define IDC_AUTO_UPDATE          40265
#define IDC_UPDATE_CLIENTS       40260
#define IDC_CONNECT              32885
#define IDC_CONFIG               1055
#define IDC_CONNECT_ON_STARTUP   40210
#define IDC_AUTO_RECONNECT       1000
#define IDC_VU_SWITCH            40110
#define IDC_VOLUME_GROUP         40255
#define IDC_VU_LEFT              40215
#define IDC_VOLUME               32900
#define IDC_VU_RIGHT             40225
#define IDC_MUTE                 32905

// ---- popup menu commands (186)
#define ID_TRAY_OPEN             40150
#define ID_TRAY_CONNECT          40095
#define ID_COPY_LISTEN_URL       40125
#define ID_COPY_STREAM_URL       40175
#define ID_TRAY_EXIT             40170
#define ID_COPY_HISTORY          40180

// ---- encoder page (183)
#define IDC_ENCODER_LIST         40015
#define IDC_ENCODER_RESET        40001
#define IDC_ENCODER_EDIT         40055
#define IDC_ENCODER_ADD          40020
#define IDC_ENCODER_REMOVE       40040

// ---- server page (136)
#define IDC_SERVER_TYPE          1005
#define IDC_SERVER_HOST          40200
#define IDC_SERVER_PORT          1060
#define IDC_SERVER_USERNAME      40085
#define IDC_SERVER_PASSWORD      40135
#define IDC_SERVER_MOUNT         40250
#define IDC_SERVER_STREAM_ID     40005
#define IDC_SERVER_USE_PROXY     1015
#define IDC_SERVER_PROXY_HOST    40190
#define IDC_SERVER_PROXY_PORT    40185

// ---- yellow pages page (133)
#define IDC_YP_PUBLIC            40245
#define IDC_YP_NAME              40220
#define IDC_YP_DESCRIPTION       40230
#define IDC_YP_GENRE             40240
#define IDC_YP_URL               40235
#define IDC_YP_CHARSET           40045

// ---- encoder setup (228)
#define IDC_SETUP_ENCODER_FILE   40070
#define IDC_SETUP_ENCODER_BROWSE 40130
#define IDC_SETUP_ENCODER_PARAMS 40160
#define IDC_SETUP_FORMAT         40115
#define IDC_SETUP_PROGRAM_FILE   40145
#define IDC_SETUP_PROGRAM_BROWSE 40000
#define IDC_SETUP_PROGRAM_PARAMS 40165
#define IDC_SETUP_WAVE_FORMAT    40050
#define IDC_SETUP_WAVE_HEADER    40140
#define IDC_SETUP_SAMPLING_RATE  40075
#define IDC_SETUP_CHANNELS       40025
#define IDC_SETUP_ENCODER_NAME   40090
#define IDC_SETUP_BITRATE        40120
#define IDC_SETUP_DESCRIPTION    40105

// ---- authorization (217)
#define IDC_AUTH_USER            40065
#define IDC_AUTH_PASSWORD        1010
