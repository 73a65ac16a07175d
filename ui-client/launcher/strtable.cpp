// The rows of the string table. Row numbers are part of the interface: callers address rows by
// number, so rows are only ever appended, never moved or removed.
//
// Source texts are marked with QT_TRANSLATE_NOOP("global", ...), so lupdate finds them: after changing
// a text, refresh the translation sources with
//   lupdate ui-client/launcher/strtable.cpp -ts ui-client/launcher/translations/*.ts
// A two-character backslash + n or backslash + t in a text (or in its translation) becomes a line feed
// or a tab when the row is loaded.
#include "strtable.h"

#include <QByteArray>
#include <QCoreApplication>
#include <iterator>

// The translations resource ("texts") registers itself when its object file is linked; naming its
// registration function here makes sure the static linker keeps that object file.
static void RegisterTranslationsResource() {
  Q_INIT_RESOURCE(texts);
}

namespace StrTable {
namespace {

struct Row {
  const char* key;
  const char* text;
};

// clang-format off
const Row kRows[] = {
    {"tray_delete", QT_TRANSLATE_NOOP("global", "Deleted")},  // 0
    {"action_unlink", QT_TRANSLATE_NOOP("global", "Unlink")},  // 1
    {"add", QT_TRANSLATE_NOOP("global", "File added: ")},  // 2
    {"btn_choseother", QT_TRANSLATE_NOOP("global", "Change folder")},  // 3
    {"btn_merge", QT_TRANSLATE_NOOP("global", "Merge")},  // 4
    {"err_common", QT_TRANSLATE_NOOP("global", "Error")},  // 5
    {"err_conflict", QT_TRANSLATE_NOOP("global", "A conflict was found and the local copy was renamed.")},  // 6
    {"err_inval", QT_TRANSLATE_NOOP("global", "Invalid parameter.")},  // 7
    {"err_network", QT_TRANSLATE_NOOP("global", "Network error. Please check your connection.")},  // 8
    {"finish", QT_TRANSLATE_NOOP("global", "Finish")},  // 9
    {"title_chart_local", QT_TRANSLATE_NOOP("global", "Local usage")},  // 10
    {"tray_relink", QT_TRANSLATE_NOOP("global", "Relink")},  // 11
    {"tray_about", QT_TRANSLATE_NOOP("global", "About")},  // 12
    {"msg_checkpass", QT_TRANSLATE_NOOP("global", "Checking the password...")},  // 13
    {"msg_connectsucc", QT_TRANSLATE_NOOP("global", "Connected successfully.")},  // 14
    {"msg_mergefolder", QT_TRANSLATE_NOOP("global", "The folder already contains files. Merge them with the server?")},  // 15
    {"msg_startup", QT_TRANSLATE_NOOP("global", "Starting up...")},  // 16
    {"msg_summary", QT_TRANSLATE_NOOP("global", "Summary")},  // 17
    {"msg_test_connect", QT_TRANSLATE_NOOP("global", "Testing the connection...")},  // 18
    {"msg_test_username_fail", QT_TRANSLATE_NOOP("global", "The user name or password is incorrect.")},  // 19
    {"title_changefolder", QT_TRANSLATE_NOOP("global", "Change Folder")},  // 20
    {"title_folder_nonempty", QT_TRANSLATE_NOOP("global", "Folder Not Empty")},  // 21
    {"title_folderpath", QT_TRANSLATE_NOOP("global", "Folder path")},  // 22
    {"title_id", QT_TRANSLATE_NOOP("global", "ID")},  // 23
    {"title_name", QT_TRANSLATE_NOOP("global", "Name")},  // 24
    {"title_value", QT_TRANSLATE_NOOP("global", "Value")},  // 25
    {"title_welcome", QT_TRANSLATE_NOOP("global", "Welcome")},  // 26
    {"tray_exit", QT_TRANSLATE_NOOP("global", "Exit")},  // 27
    {"tray_updatedfile", QT_TRANSLATE_NOOP("global", "Updated files")},  // 28
    {"tray_download", QT_TRANSLATE_NOOP("global", "Download")},  // 29
    {"btn_help", QT_TRANSLATE_NOOP("global", "Help")},  // 30
    {"btn_ok", QT_TRANSLATE_NOOP("global", "OK")},  // 31
    {"btn_cancel", QT_TRANSLATE_NOOP("global", "Cancel")},  // 32
    {"btn_next", QT_TRANSLATE_NOOP("global", "Next")},  // 33
    {"btn_back", QT_TRANSLATE_NOOP("global", "Back")},  // 34
    {"version", QT_TRANSLATE_NOOP("global", "Version")},  // 35
    {"msg_catchevent", QT_TRANSLATE_NOOP("global", "Processing file changes...")},  // 36
    {"err_disconn", QT_TRANSLATE_NOOP("global", "Disconnected from the server.")},  // 37
    {"tray_upload", QT_TRANSLATE_NOOP("global", "Upload")},  // 38
    {"welcome_go", QT_TRANSLATE_NOOP("global", "Get started")},  // 39
    {"time_time", QT_TRANSLATE_NOOP("global", "Time")},  // 40
    {"conn_mode_lan", QT_TRANSLATE_NOOP("global", "LAN")},  // 41
    {"conn_mode_direct", QT_TRANSLATE_NOOP("global", "Direct connection")},  // 42
    {"err_auth_short", QT_TRANSLATE_NOOP("global", "Authentication failed")},  // 43
    {"conn_mode_reading", QT_TRANSLATE_NOOP("global", "Detecting the connection mode...")},  // 44
    {"reserved_045", QT_TRANSLATE_NOOP("global", "Reserved")},  // 45
    {"conn_mode_wan", QT_TRANSLATE_NOOP("global", "WAN")},  // 46
    {"err_autoconn_sys", QT_TRANSLATE_NOOP("global", "Automatic connection failed because of a system error.")},  // 47
    {"reserved_048", QT_TRANSLATE_NOOP("global", "Reserved")},  // 48
    {"files_update", QT_TRANSLATE_NOOP("global", "Files updated")},  // 49
    {"msg_folder_readonly", QT_TRANSLATE_NOOP("global", "The folder \"%1\" is read-only.")},  // 50
    {"msg_quotafull", QT_TRANSLATE_NOOP("global", "Your storage quota on the server is full.")},  // 51
    {"title_conn_mode", QT_TRANSLATE_NOOP("global", "Connection mode")},  // 52
    {"title_folder_readonly", QT_TRANSLATE_NOOP("global", "Read-only Folder")},  // 53
    {"tray_setinfo", QT_TRANSLATE_NOOP("global", "Settings")},  // 54
    {"manage_share_change_folder", QT_TRANSLATE_NOOP("global", "Change the sync folder")},  // 55
    {"manage_share_title", QT_TRANSLATE_NOOP("global", "Shared Folders")},  // 56
    {"msg_info", QT_TRANSLATE_NOOP("global", "Information")},  // 57
    {"manage_proxy_chk_no_proxy", QT_TRANSLATE_NOOP("global", "No proxy")},  // 58
    {"manage_proxy_chk_sys_proxy", QT_TRANSLATE_NOOP("global", "Use system proxy settings")},  // 59
    {"manage_proxy_label_password", QT_TRANSLATE_NOOP("global", "Password:")},  // 60
    {"msg_seldir", QT_TRANSLATE_NOOP("global", "Select a folder")},  // 61
    {"err_autoconn_ctrl", QT_TRANSLATE_NOOP("global", "Automatic connection was stopped by the server.")},  // 62
    {"manage_proxy_server_port", QT_TRANSLATE_NOOP("global", "Port:")},  // 63
    {"manage_setting_not_save", QT_TRANSLATE_NOOP("global", "Your changes have not been saved. Save them now?")},  // 64
    {"err_full_short", QT_TRANSLATE_NOOP("global", "Disk full")},  // 65
    {"err_share_fail_enable", QT_TRANSLATE_NOOP("global", "Failed to enable the shared folder.")},  // 66
    {"err_share_folder_conflict", QT_TRANSLATE_NOOP("global", "The shared folder conflicts with an existing sync folder.")},  // 67
    {"err_share_limit", QT_TRANSLATE_NOOP("global", "The maximum number of shared folders has been reached.")},  // 68
    {"manage_setting_applying", QT_TRANSLATE_NOOP("global", "Applying settings...")},  // 69
    {"err_invalid_port_number", QT_TRANSLATE_NOOP("global", "Please enter a port number from 1 to 65535.")},  // 70
    {"err_proxy_ipport_empty", QT_TRANSLATE_NOOP("global", "Please enter the proxy address and port.")},  // 71
    {"manage_proxy_chk_manual", QT_TRANSLATE_NOOP("global", "Manual proxy configuration")},  // 72
    {"manage_proxy_tab_name", QT_TRANSLATE_NOOP("global", "Proxy")},  // 73
    {"manage_proxy_title", QT_TRANSLATE_NOOP("global", "Proxy Settings")},  // 74
    {"manage_setting_no_change", QT_TRANSLATE_NOOP("global", "No settings were changed.")},  // 75
    {"manage_share_enable", QT_TRANSLATE_NOOP("global", "Enable")},  // 76
    {"manage_share_name", QT_TRANSLATE_NOOP("global", "Shared folder name")},  // 77
    {"manage_share_status", QT_TRANSLATE_NOOP("global", "Status")},  // 78
    {"manage_share_tab_name", QT_TRANSLATE_NOOP("global", "Shared Folders")},  // 79
    {"management_proxy_apply_btn", QT_TRANSLATE_NOOP("global", "Apply")},  // 80
    {"management_proxy_cancel_btn", QT_TRANSLATE_NOOP("global", "Cancel")},  // 81
    {"network_management_page_btn", QT_TRANSLATE_NOOP("global", "Network")},  // 82
    {"tray_management_page", QT_TRANSLATE_NOOP("global", "Preferences")},  // 83
    {"manage_proxy_chk_account", QT_TRANSLATE_NOOP("global", "The proxy server requires a password")},  // 84
    {"tray_updating", QT_TRANSLATE_NOOP("global", "Updating...")},  // 85
    {"manage_option_enable_ssl", QT_TRANSLATE_NOOP("global", "Enable SSL data transmission encryption")},  // 86
    {"notify_abnormal_short", QT_TRANSLATE_NOOP("global", "Sync stopped")},  // 87
    {"title_ip_detail", QT_TRANSLATE_NOOP("global", "Server address details")},  // 88
    {"manage_option_enable_desktop_notify", QT_TRANSLATE_NOOP("global", "Show desktop notifications")},  // 89
    {"manage_option_enable_icon_overlay", QT_TRANSLATE_NOOP("global", "Show file status icons")},  // 90
    {"manage_option_tab_name", QT_TRANSLATE_NOOP("global", "General")},  // 91
    {"manage_option_title", QT_TRANSLATE_NOOP("global", "Options")},  // 92
    {"manage_option_use_black_white_icon", QT_TRANSLATE_NOOP("global", "Use a black and white tray icon")},  // 93
    {"notify_new_share", QT_TRANSLATE_NOOP("global", "%1 shared the folder \"%2\" with you.")},  // 94
    {"notify_new_share_short", QT_TRANSLATE_NOOP("global", "New shared folder")},  // 95
    {"tray_data_checking", QT_TRANSLATE_NOOP("global", "Checking data...")},  // 96
    {"auto_setup_failed_msg", QT_TRANSLATE_NOOP("global", "Automatic setup failed. Please set up the connection manually.")},  // 97
    {"auto_setup_finishing", QT_TRANSLATE_NOOP("global", "Finishing the setup...")},  // 98
    {"btn_continue", QT_TRANSLATE_NOOP("global", "Continue")},  // 99
    {"selective_sync", QT_TRANSLATE_NOOP("global", "Selective Sync")},  // 100
    {"black_list_desc", QT_TRANSLATE_NOOP("global", "Files and folders on this list are not synced.")},  // 101
    {"msg_upgrading", QT_TRANSLATE_NOOP("global", "Upgrading, please wait...")},  // 102
    {"file_ext_label", QT_TRANSLATE_NOOP("global", "File extensions:")},  // 103
    {"err_share_mountpt_short", QT_TRANSLATE_NOOP("global", "Shared folder not mounted")},  // 104
    {"title_upgrade", QT_TRANSLATE_NOOP("global", "Upgrade")},  // 105
    {"msg_progress", QT_TRANSLATE_NOOP("global", "Progress: %1%")},  // 106
    {"msg_shareitem_delete", QT_TRANSLATE_NOOP("global", "Delete the shared item \"%1\"?")},  // 107
    {"reserved_108", QT_TRANSLATE_NOOP("global", "Reserved")},  // 108
    {"err_shareitem_delete", QT_TRANSLATE_NOOP("global", "Failed to delete the shared item.")},  // 109
    {"auto_setup_key_configurated", QT_TRANSLATE_NOOP("global", "The setup key has been configured.")},  // 110
    {"msg_language_restart", QT_TRANSLATE_NOOP("global", "The new language takes effect after the client restarts.")},  // 111
    {"type_folder", QT_TRANSLATE_NOOP("global", "Folder")},  // 112
    {"msg_localdiskfull", QT_TRANSLATE_NOOP("global", "The local disk is full.")},  // 113
    {"selective_sync_loading", QT_TRANSLATE_NOOP("global", "Loading the folder list...")},  // 114
    {"btn_shareitem_delete", QT_TRANSLATE_NOOP("global", "Delete")},  // 115
    {"msg_confirm_unlink", QT_TRANSLATE_NOOP("global", "Are you sure you want to unlink this computer?\\nSyncing stops until you link it again.")},  // 116
    {"col_file_destination", QT_TRANSLATE_NOOP("global", "Destination")},  // 117
    {"label_preparing", QT_TRANSLATE_NOOP("global", "Preparing...")},  // 118
    {"label_uploading", QT_TRANSLATE_NOOP("global", "Uploading...")},  // 119
    {"language_default", QT_TRANSLATE_NOOP("global", "System default")},  // 120
    {"manage_option_language", QT_TRANSLATE_NOOP("global", "Language:")},  // 121
    {"folder_name", QT_TRANSLATE_NOOP("global", "Folder name")},  // 122
    {"label_downloading", QT_TRANSLATE_NOOP("global", "Downloading...")},  // 123
    {"tray_syncing_file_cnt", QT_TRANSLATE_NOOP("global", "Syncing %1 files")},  // 124
    {"folder_selective_sync", QT_TRANSLATE_NOOP("global", "Folder selective sync")},  // 125
    {"advanced_settings", QT_TRANSLATE_NOOP("global", "Advanced settings")},  // 126
    {"file_max_size_label", QT_TRANSLATE_NOOP("global", "Maximum file size:")},  // 127
    {"block_file_name_label", QT_TRANSLATE_NOOP("global", "File names:")},  // 128
    {"block_file_table_title", QT_TRANSLATE_NOOP("global", "Blocked files")},  // 129
    {"err_database", QT_TRANSLATE_NOOP("global", "The local database could not be opened.")},  // 130
    {"file_selective_sync", QT_TRANSLATE_NOOP("global", "File selective sync")},  // 131
    {"file_black_list_label", QT_TRANSLATE_NOOP("global", "Skip files of these types:")},  // 132
    {"selective_sync_remove_msg", QT_TRANSLATE_NOOP("global", "Folders you clear are removed from this computer but stay on the server.")},  // 133
    {"manage_option_merge_mode", QT_TRANSLATE_NOOP("global", "Merge mode")},  // 134
    {"loading", QT_TRANSLATE_NOOP("global", "Loading...")},  // 135
    {"manage_option_sync_mode", QT_TRANSLATE_NOOP("global", "Sync mode")},  // 136
    {"tray_status_paused", QT_TRANSLATE_NOOP("global", "Paused")},  // 137
    {"msg_folder_mount_point", QT_TRANSLATE_NOOP("global", "The folder \"%1\" is a mount point and cannot be synced.")},  // 138
    {"col_time", QT_TRANSLATE_NOOP("global", "Time")},  // 139
    {"msg_download_aborted", QT_TRANSLATE_NOOP("global", "The download was aborted.")},  // 140
    {"btn_start_now", QT_TRANSLATE_NOOP("global", "Start now")},  // 141
    {"status_desc_localdisk_full", QT_TRANSLATE_NOOP("global", "Syncing stopped because the local disk is full.")},  // 142
    {"status_desc_quotafull", QT_TRANSLATE_NOOP("global", "Syncing stopped because your quota on the server is full.")},  // 143
    {"tray_status_linking", QT_TRANSLATE_NOOP("global", "Connecting...")},  // 144
    {"btn_manage", QT_TRANSLATE_NOOP("global", "Manage")},  // 145
    {"err_share_perm_short", QT_TRANSLATE_NOOP("global", "No permission")},  // 146
    {"status_desc_perm_short", QT_TRANSLATE_NOOP("global", "You do not have permission to access this folder.")},  // 147
    {"err_user_info_unavailable", QT_TRANSLATE_NOOP("global", "User information is not available.")},  // 148
    {"status_desc_abnormal_short", QT_TRANSLATE_NOOP("global", "Syncing stopped unexpectedly.")},  // 149
    {"col_computer_name", QT_TRANSLATE_NOOP("global", "Computer name")},  // 150
    {"tray_unstable", QT_TRANSLATE_NOOP("global", "The connection is unstable.")},  // 151
    {"msg_download_downloading", QT_TRANSLATE_NOOP("global", "Downloading %1...")},  // 152
    {"context_menu_share_link", QT_TRANSLATE_NOOP("global", "Get a sharing link")},  // 153
    {"msg_linking", QT_TRANSLATE_NOOP("global", "Connecting to %1...")},  // 154
    {"try_syncing", QT_TRANSLATE_NOOP("global", "Trying to sync...")},  // 155
    {"viewer", QT_TRANSLATE_NOOP("global", "Viewer")},  // 156
    {"title_ssl_warning", QT_TRANSLATE_NOOP("global", "Security Warning")},  // 157
    {"pause_connection", QT_TRANSLATE_NOOP("global", "Pause")},  // 158
    {"resume_connection", QT_TRANSLATE_NOOP("global", "Resume")},  // 159
    {"unlink_connection", QT_TRANSLATE_NOOP("global", "Unlink")},  // 160
    {"col_file_status", QT_TRANSLATE_NOOP("global", "Status")},  // 161
    {"black_list_btn", QT_TRANSLATE_NOOP("global", "Blocked files")},  // 162
    {"col_file_action", QT_TRANSLATE_NOOP("global", "Action")},  // 163
    {"col_file_name", QT_TRANSLATE_NOOP("global", "Name")},  // 164
    {"col_file_size", QT_TRANSLATE_NOOP("global", "Size")},  // 165
    {"col_id", QT_TRANSLATE_NOOP("global", "ID")},  // 166
    {"msg_disabled", QT_TRANSLATE_NOOP("global", "Disabled")},  // 167
    {"msg_enabled", QT_TRANSLATE_NOOP("global", "Enabled")},  // 168
    {"share_enable_remove_msg", QT_TRANSLATE_NOOP("global", "Disabling this shared folder removes its local copy. Continue?")},  // 169
    {"title_ssl_enable", QT_TRANSLATE_NOOP("global", "Enable SSL")},  // 170
    {"msg_seldir_description", QT_TRANSLATE_NOOP("global", "Select the folder to sync with the server.")},  // 171
    {"msg_share_bubble_suffix", QT_TRANSLATE_NOOP("global", " shared a folder with you.")},  // 172
    {"title_bubble_sharing", QT_TRANSLATE_NOOP("global", "Sharing")},  // 173
    {"msg_download_done", QT_TRANSLATE_NOOP("global", "Download finished.")},  // 174
    {"msg_download_fail", QT_TRANSLATE_NOOP("global", "Download failed.")},  // 175
    {"reserved_176", QT_TRANSLATE_NOOP("global", "Reserved")},  // 176
    {"size_title", QT_TRANSLATE_NOOP("global", "Size")},  // 177
    {"reserved_178", QT_TRANSLATE_NOOP("global", "Reserved")},  // 178
    {"status_desc_pause", QT_TRANSLATE_NOOP("global", "Syncing is paused.")},  // 179
    {"status_desc_ssl_verify_fail", QT_TRANSLATE_NOOP("global", "The server's certificate could not be verified.")},  // 180
    {"status_desc_errversion_client", QT_TRANSLATE_NOOP("global", "This client version is not supported by the server.")},  // 181
    {"status_desc_syncing", QT_TRANSLATE_NOOP("global", "Syncing...")},  // 182
    {"wizard_conflict_backup_warning", QT_TRANSLATE_NOOP("global", "Files in the destination folder will be backed up before syncing.")},  // 183
    {"desc_inactive", QT_TRANSLATE_NOOP("global", "The connection is inactive.")},  // 184
    {"title_inactive", QT_TRANSLATE_NOOP("global", "Inactive")},  // 185
    {"desc_cannot_download", QT_TRANSLATE_NOOP("global", "This file cannot be downloaded.")},  // 186
    {"desc_cannot_list_version", QT_TRANSLATE_NOOP("global", "Versions of this file cannot be listed.")},  // 187
    {"desc_cannot_share_link", QT_TRANSLATE_NOOP("global", "A sharing link cannot be created for this item.")},  // 188
    {"err_ssl_verify_fail", QT_TRANSLATE_NOOP("global", "SSL certificate verification failed.")},  // 189
    {"title_standby", QT_TRANSLATE_NOOP("global", "Standby")},  // 190
    {"title_icon_double_clicked", QT_TRANSLATE_NOOP("global", "Open folder")},  // 191
    {"tooltip_folder_indexing", QT_TRANSLATE_NOOP("global", "Indexing the folder...")},  // 192
    {"msi_welcome_dlg_title", QT_TRANSLATE_NOOP("global", "Welcome to the [ProductName] Setup Wizard")},  // 193
    {"err_init_failed", QT_TRANSLATE_NOOP("global", "Initialization failed.")},  // 194
    {"msi_button_back", QT_TRANSLATE_NOOP("global", "< &Back")},  // 195
    {"msi_ready_dlg_title", QT_TRANSLATE_NOOP("global", "Ready to Install [ProductName]")},  // 196
    {"msi_filesinuse_dlg_description", QT_TRANSLATE_NOOP("global", "Some files that need to be updated are currently in use.")},  // 197
    {"msi_button_exit", QT_TRANSLATE_NOOP("global", "&Exit")},  // 198
    {"msi_button_print", QT_TRANSLATE_NOOP("global", "&Print")},  // 199
    {"msi_filesinuse_dlg_closenone", QT_TRANSLATE_NOOP("global", "Do not close applications. A reboot will be required.")},  // 200
    {"msi_maintenance_dlg_repair_text", QT_TRANSLATE_NOOP("global", "Repairs errors in the most recent installation.")},  // 201
    {"msi_exit_dlg_launch", QT_TRANSLATE_NOOP("global", "Launch [ProductName]")},  // 202
    {"msi_exit_dlg_text", QT_TRANSLATE_NOOP("global", "Click the Finish button to exit the Setup Wizard.")},  // 203
    {"msi_exit_dlg_description", QT_TRANSLATE_NOOP("global", "[ProductName] has been installed successfully.")},  // 204
    {"msi_error_dlg_title", QT_TRANSLATE_NOOP("global", "[ProductName] Setup")},  // 205
    {"msi_maintenance_dlg_title", QT_TRANSLATE_NOOP("global", "Change, repair, or remove installation")},  // 206
    {"msi_exit_dlg_title", QT_TRANSLATE_NOOP("global", "Completed the [ProductName] Setup Wizard")},  // 207
    {"err_syncfolder_not_mounted", QT_TRANSLATE_NOOP("global", "The sync folder is not mounted.")},  // 208
    {"msi_maintenance_dlg_repair_tooltip", QT_TRANSLATE_NOOP("global", "Repair the installation")},  // 209
    {"msi_button_remove", QT_TRANSLATE_NOOP("global", "&Remove")},  // 210
    {"context_menu_version_browse", QT_TRANSLATE_NOOP("global", "Browse previous versions")},  // 211
    {"msi_maintenance_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Select the operation you wish to perform.")},  // 212
    {"download_only", QT_TRANSLATE_NOOP("global", "Download only")},  // 213
    {"msi_fatalerror_dlg_description1", QT_TRANSLATE_NOOP("global", "[ProductName] Setup Wizard ended prematurely because of an error.")},  // 214
    {"msi_button_cancel", QT_TRANSLATE_NOOP("global", "Cancel")},  // 215
    {"msi_button_finish", QT_TRANSLATE_NOOP("global", "&Finish")},  // 216
    {"msi_button_no", QT_TRANSLATE_NOOP("global", "&No")},  // 217
    {"msg_info_description", QT_TRANSLATE_NOOP("global", "More information")},  // 218
    {"msi_maintenance_welcome_dlg_title", QT_TRANSLATE_NOOP("global", "Welcome to the [ProductName] Setup Wizard")},  // 219
    {"msi_progress_dlg_status_label", QT_TRANSLATE_NOOP("global", "Status:")},  // 220
    {"msi_button_ignore", QT_TRANSLATE_NOOP("global", "&Ignore")},  // 221
    {"msi_button_ok", QT_TRANSLATE_NOOP("global", "OK")},  // 222
    {"msi_button_install", QT_TRANSLATE_NOOP("global", "&Install")},  // 223
    {"msi_maintenance_welcome_dlg_description", QT_TRANSLATE_NOOP("global", "The Setup Wizard allows you to change, repair, or remove [ProductName].")},  // 224
    {"msi_maintenance_dlg_remove_tooltip", QT_TRANSLATE_NOOP("global", "Remove the installation")},  // 225
    {"read_only", QT_TRANSLATE_NOOP("global", "Read-only")},  // 226
    {"msi_eula_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Please read the following license agreement carefully.")},  // 227
    {"msi_button_next", QT_TRANSLATE_NOOP("global", "&Next >")},  // 228
    {"msi_eula_dlg_title", QT_TRANSLATE_NOOP("global", "End-User License Agreement")},  // 229
    {"title_chart_tray", QT_TRANSLATE_NOOP("global", "Usage")},  // 230
    {"msi_maintenance_dlg_repair_label", QT_TRANSLATE_NOOP("global", "&Repair")},  // 231
    {"err_local_sync_folder_miss", QT_TRANSLATE_NOOP("global", "The local sync folder cannot be found.")},  // 232
    {"msi_button_repair", QT_TRANSLATE_NOOP("global", "&Repair")},  // 233
    {"msi_button_retry", QT_TRANSLATE_NOOP("global", "&Retry")},  // 234
    {"msi_button_yes", QT_TRANSLATE_NOOP("global", "&Yes")},  // 235
    {"msi_cancel_dlg_text", QT_TRANSLATE_NOOP("global", "Are you sure you want to cancel the [ProductName] installation?")},  // 236
    {"msi_cancel_dlg_title", QT_TRANSLATE_NOOP("global", "[ProductName] Setup")},  // 237
    {"msi_eula_dlg_description", QT_TRANSLATE_NOOP("global", "Please read the following license agreement carefully.")},  // 238
    {"msi_fatalerror_dlg_description2", QT_TRANSLATE_NOOP("global", "Your system has not been modified. Run the installer again later.")},  // 239
    {"msi_fatalerror_dlg_title", QT_TRANSLATE_NOOP("global", "[ProductName] Setup Wizard ended prematurely")},  // 240
    {"msi_filesinuse_dlg_closeall", QT_TRANSLATE_NOOP("global", "&Close all applications and attempt to restart them.")},  // 241
    {"msi_filesinuse_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Some files that need to be updated are currently in use.")},  // 242
    {"msi_filesinuse_dlg_text", QT_TRANSLATE_NOOP("global", "The following applications are using files that need to be updated by this setup.")},  // 243
    {"msi_filesinuse_dlg_text2", QT_TRANSLATE_NOOP("global", "Close these applications and click Retry to continue.")},  // 244
    {"msi_filesinuse_dlg_title", QT_TRANSLATE_NOOP("global", "Files in Use")},  // 245
    {"msi_maintenance_dlg_change_label", QT_TRANSLATE_NOOP("global", "&Change")},  // 246
    {"msi_maintenance_dlg_change_text", QT_TRANSLATE_NOOP("global", "Lets you change the way features are installed.")},  // 247
    {"msi_maintenance_dlg_change_text_disabled", QT_TRANSLATE_NOOP("global", "[ProductName] has no independently selectable features.")},  // 248
    {"msi_maintenance_dlg_change_tooltip", QT_TRANSLATE_NOOP("global", "Change the installation")},  // 249
    {"msi_maintenance_dlg_description", QT_TRANSLATE_NOOP("global", "Select the operation you wish to perform.")},  // 250
    {"msi_maintenance_dlg_remove_label", QT_TRANSLATE_NOOP("global", "R&emove")},  // 251
    {"msi_maintenance_dlg_remove_text", QT_TRANSLATE_NOOP("global", "Removes [ProductName] from your computer.")},  // 252
    {"msi_progress_dlg_description", QT_TRANSLATE_NOOP("global", "Please wait while the Setup Wizard installs [ProductName].")},  // 253
    {"msi_progress_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Installing [ProductName]")},  // 254
    {"msi_progress_dlg_text", QT_TRANSLATE_NOOP("global", "Please wait while the Setup Wizard installs [ProductName].")},  // 255
    {"msi_progress_dlg_title", QT_TRANSLATE_NOOP("global", "Installing [ProductName]")},  // 256
    {"msi_ready_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Click Install to begin the installation.")},  // 257
    {"msi_ready_dlg_text", QT_TRANSLATE_NOOP("global", "Click Install to begin the installation. Click Back to review or change the settings.")},  // 258
    {"msi_readyremove_dlg_description", QT_TRANSLATE_NOOP("global", "Click Remove to remove [ProductName] from your computer.")},  // 259
    {"msi_readyremove_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Ready to remove")},  // 260
    {"msi_readyremove_dlg_text", QT_TRANSLATE_NOOP("global", "Click Remove to remove [ProductName] from your computer. Click Back to review the settings.")},  // 261
    {"msi_readyremove_dlg_title", QT_TRANSLATE_NOOP("global", "Ready to Remove [ProductName]")},  // 262
    {"msi_readyrepair_dlg_description", QT_TRANSLATE_NOOP("global", "Click Repair to repair the installation of [ProductName].")},  // 263
    {"msi_readyrepair_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Ready to repair")},  // 264
    {"msi_readyrepair_dlg_text", QT_TRANSLATE_NOOP("global", "Click Repair to repair the installation of [ProductName]. Click Back to review the settings.")},  // 265
    {"msi_readyrepair_dlg_title", QT_TRANSLATE_NOOP("global", "Ready to Repair [ProductName]")},  // 266
    {"msi_userexit_dlg_description1", QT_TRANSLATE_NOOP("global", "[ProductName] Setup Wizard was interrupted.")},  // 267
    {"msi_userexit_dlg_description2", QT_TRANSLATE_NOOP("global", "Your system has not been modified. Run the installer again to install later.")},  // 268
    {"msi_userexit_dlg_title", QT_TRANSLATE_NOOP("global", "[ProductName] Setup Wizard was interrupted")},  // 269
    {"msi_welcome_dlg_description", QT_TRANSLATE_NOOP("global", "The Setup Wizard will install [ProductName] on your computer. Click Next to continue.")},  // 270
    {"remove_btn", QT_TRANSLATE_NOOP("global", "Remove")},  // 271
    {"msi_maintenance_welcome_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Change, repair, or remove [ProductName].")},  // 272
    {"msi_exit_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Setup is complete.")},  // 273
    {"msi_userexit_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Setup was interrupted.")},  // 274
    {"session_unlink_btn", QT_TRANSLATE_NOOP("global", "Unlink")},  // 275
    {"main_download_history", QT_TRANSLATE_NOOP("global", "Download history")},  // 276
    {"link_new_nas", QT_TRANSLATE_NOOP("global", "Connect to another server")},  // 277
    {"msi_fatalerror_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Setup ended because of an error.")},  // 278
    {"share_enabled", QT_TRANSLATE_NOOP("global", "Sharing enabled")},  // 279
    {"session_add_btn", QT_TRANSLATE_NOOP("global", "Add")},  // 280
    {"msi_welcome_dlg_subtitle", QT_TRANSLATE_NOOP("global", "Welcome")},  // 281
    {"session_pause_btn", QT_TRANSLATE_NOOP("global", "Pause")},  // 282
    {"msi_eula_dlg_accept", QT_TRANSLATE_NOOP("global", "I &accept the terms in the License Agreement")},  // 283
    {"session_resume_btn", QT_TRANSLATE_NOOP("global", "Resume")},  // 284
    {"filter_reset", QT_TRANSLATE_NOOP("global", "Reset")},  // 285
    {"selective_sync_folder_title", QT_TRANSLATE_NOOP("global", "Select the folders to sync")},  // 286
    {"msg_sub_slogan", QT_TRANSLATE_NOOP("global", "Your files, everywhere you are.")},  // 287
    {"err_user_sharing_disabled", QT_TRANSLATE_NOOP("global", "Sharing has been disabled for your account.")},  // 288
    {"session_unlink_confirm_msg", QT_TRANSLATE_NOOP("global", "Unlink the connection to %1?")},  // 289
    {"open_contain_folder", QT_TRANSLATE_NOOP("global", "Open containing folder")},  // 290
    {"err_get_file_url", QT_TRANSLATE_NOOP("global", "The file link could not be retrieved.")},  // 291
    {"reserved_292", QT_TRANSLATE_NOOP("global", "Reserved")},  // 292
    {"err_share_not_mounted", QT_TRANSLATE_NOOP("global", "The shared folder is not mounted.")},  // 293
    {"err_remote_not_mounted", QT_TRANSLATE_NOOP("global", "The remote folder is not mounted.")},  // 294
    {"NSIS_NOT_ADMIN_CONFIRM", QT_TRANSLATE_NOOP("global", "Administrator rights are required to install this software. Continue anyway?")},  // 295
    {"msg_slogan", QT_TRANSLATE_NOOP("global", "Sync your files across all your devices.")},  // 296
    {"reserved_297", QT_TRANSLATE_NOOP("global", "Reserved")},  // 297
    {"history_yesterday", QT_TRANSLATE_NOOP("global", "Yesterday")},  // 298
    {"wizard_setup_mode_page_desc", QT_TRANSLATE_NOOP("global", "Choose how you want to set up syncing.")},  // 299
    {"wizard_setup_quick_mode_title", QT_TRANSLATE_NOOP("global", "Quick setup")},  // 300
    {"yes", QT_TRANSLATE_NOOP("global", "Yes")},  // 301
    {"got_it", QT_TRANSLATE_NOOP("global", "Got it")},  // 302
    {"desc_no_per_or_deleted", QT_TRANSLATE_NOOP("global", "You have no permission, or the item has been deleted.")},  // 303
    {"tutorial_second_desc_2", QT_TRANSLATE_NOOP("global", "Files in the sync folder stay up to date on all your devices.")},  // 304
    {"history_date_range", QT_TRANSLATE_NOOP("global", "Date range")},  // 305
    {"context_menu_filter_folder", QT_TRANSLATE_NOOP("global", "Do not sync this folder")},  // 306
    {"time_hour_ago", QT_TRANSLATE_NOOP("global", "%1 hours ago")},  // 307
    {"wizard_new_sync_folder_desc", QT_TRANSLATE_NOOP("global", "Create a new folder to sync with the server.")},  // 308
    {"history_folder", QT_TRANSLATE_NOOP("global", "Folder")},  // 309
    {"month_may", QT_TRANSLATE_NOOP("global", "May")},  // 310
    {"history_from", QT_TRANSLATE_NOOP("global", "From")},  // 311
    {"wizard_setup_repeat_warning_title", QT_TRANSLATE_NOOP("global", "Folder Already Synced")},  // 312
    {"history_rename", QT_TRANSLATE_NOOP("global", "Rename")},  // 313
    {"progress_preparing", QT_TRANSLATE_NOOP("global", "Preparing...")},  // 314
    {"time_day_ago", QT_TRANSLATE_NOOP("global", "%1 days ago")},  // 315
    {"time_just_now", QT_TRANSLATE_NOOP("global", "Just now")},  // 316
    {"time_minute_ago", QT_TRANSLATE_NOOP("global", "%1 minutes ago")},  // 317
    {"history_file", QT_TRANSLATE_NOOP("global", "File")},  // 318
    {"history_items", QT_TRANSLATE_NOOP("global", "%1 items")},  // 319
    {"history_last_month", QT_TRANSLATE_NOOP("global", "Last month")},  // 320
    {"history_keyword", QT_TRANSLATE_NOOP("global", "Keyword")},  // 321
    {"history_to", QT_TRANSLATE_NOOP("global", "To")},  // 322
    {"history_delete", QT_TRANSLATE_NOOP("global", "Delete")},  // 323
    {"history_download", QT_TRANSLATE_NOOP("global", "Download")},  // 324
    {"history_type", QT_TRANSLATE_NOOP("global", "Type")},  // 325
    {"history_last_week", QT_TRANSLATE_NOOP("global", "Last week")},  // 326
    {"history_upload", QT_TRANSLATE_NOOP("global", "Upload")},  // 327
    {"month_apr", QT_TRANSLATE_NOOP("global", "April")},  // 328
    {"history_reset", QT_TRANSLATE_NOOP("global", "Reset")},  // 329
    {"month_aug", QT_TRANSLATE_NOOP("global", "August")},  // 330
    {"history_search", QT_TRANSLATE_NOOP("global", "Search")},  // 331
    {"month_oct", QT_TRANSLATE_NOOP("global", "October")},  // 332
    {"context_menu_resume_folder", QT_TRANSLATE_NOOP("global", "Resume syncing this folder")},  // 333
    {"history_time", QT_TRANSLATE_NOOP("global", "Time")},  // 334
    {"context_menu_filter_folders", QT_TRANSLATE_NOOP("global", "Do not sync these folders")},  // 335
    {"history_no_data", QT_TRANSLATE_NOOP("global", "No history yet.")},  // 336
    {"context_menu_resume_folders", QT_TRANSLATE_NOOP("global", "Resume syncing these folders")},  // 337
    {"context_menu_sendto_prefix", QT_TRANSLATE_NOOP("global", "Send to ")},  // 338
    {"month_nov", QT_TRANSLATE_NOOP("global", "November")},  // 339
    {"tray_current_syncing", QT_TRANSLATE_NOOP("global", "Currently syncing")},  // 340
    {"history_action", QT_TRANSLATE_NOOP("global", "Action")},  // 341
    {"month_sep", QT_TRANSLATE_NOOP("global", "September")},  // 342
    {"history_all_event", QT_TRANSLATE_NOOP("global", "All events")},  // 343
    {"history_customize", QT_TRANSLATE_NOOP("global", "Custom")},  // 344
    {"history_date", QT_TRANSLATE_NOOP("global", "Date")},  // 345
    {"history_file_name", QT_TRANSLATE_NOOP("global", "File name")},  // 346
    {"month_mar", QT_TRANSLATE_NOOP("global", "March")},  // 347
    {"month_dec", QT_TRANSLATE_NOOP("global", "December")},  // 348
    {"history_file_type", QT_TRANSLATE_NOOP("global", "File type")},  // 349
    {"month_feb", QT_TRANSLATE_NOOP("global", "February")},  // 350
    {"month_jan", QT_TRANSLATE_NOOP("global", "January")},  // 351
    {"month_jul", QT_TRANSLATE_NOOP("global", "July")},  // 352
    {"month_jun", QT_TRANSLATE_NOOP("global", "June")},  // 353
    {"today", QT_TRANSLATE_NOOP("global", "Today")},  // 354
    {"advan_setup_wizard", QT_TRANSLATE_NOOP("global", "Advanced setup")},  // 355
    {"dont_show_msg", QT_TRANSLATE_NOOP("global", "Do not show this message again")},  // 356
    {"wizard_setup_quick_mode_desc", QT_TRANSLATE_NOOP("global", "Sync your home folder on the server with a folder on this computer.")},  // 357
    {"quick_mode_finish_page_desc", QT_TRANSLATE_NOOP("global", "Your files will be synced to %1.")},  // 358
    {"quick_mode_finish_page_title", QT_TRANSLATE_NOOP("global", "You are all set!")},  // 359
    {"tutorial_second_desc", QT_TRANSLATE_NOOP("global", "Put files in the sync folder to sync them to the server.")},  // 360
    {"tutorial_third_desc", QT_TRANSLATE_NOOP("global", "Right-click a file to share it or browse its versions.")},  // 361
    {"wizard_setup_mode_page_title", QT_TRANSLATE_NOOP("global", "Setup mode")},  // 362
    {"no_need", QT_TRANSLATE_NOOP("global", "No, thanks")},  // 363
    {"tutorial_second_title", QT_TRANSLATE_NOOP("global", "Sync your files")},  // 364
    {"tutorial_third_title", QT_TRANSLATE_NOOP("global", "Share and restore")},  // 365
    {"reserved_366", QT_TRANSLATE_NOOP("global", "Reserved")},  // 366
    {"reserved_367", QT_TRANSLATE_NOOP("global", "Reserved")},  // 367
    {"title_status_info", QT_TRANSLATE_NOOP("global", "Status")},  // 368
    {"title_pwd", QT_TRANSLATE_NOOP("global", "Password")},  // 369
    {"title_usr", QT_TRANSLATE_NOOP("global", "User name")},  // 370
    {"single_file_update", QT_TRANSLATE_NOOP("global", "File updated")},  // 371
    {"err_no_connection_for_file", QT_TRANSLATE_NOOP("global", "No connection is available for this file.")},  // 372
    {"open_main_app", QT_TRANSLATE_NOOP("global", "Open the main window")},  // 373
    {"wizard_sync_folder_new_nas", QT_TRANSLATE_NOOP("global", "Sync a folder on a new server")},  // 374
    {"tray_upgrade", QT_TRANSLATE_NOOP("global", "Upgrade")},  // 375
    {"wizard_new_sync_folder_title", QT_TRANSLATE_NOOP("global", "New Sync Folder")},  // 376
    {"wizard_sync_folder_new_session", QT_TRANSLATE_NOOP("global", "Create a new sync task")},  // 377
    {"wizard_setup_advan_mode_title", QT_TRANSLATE_NOOP("global", "Advanced setup")},  // 378
    {"wizard_setup_advan_mode_desc", QT_TRANSLATE_NOOP("global", "Choose the folders to sync and set the sync rules yourself.")},  // 379
    {"btn_done", QT_TRANSLATE_NOOP("global", "Done")},  // 380
    {"file_max_size_limit", QT_TRANSLATE_NOOP("global", "Files larger than %1 MB are not synced.")},  // 381
    {"reserved_382", QT_TRANSLATE_NOOP("global", "Reserved")},  // 382
    {"wizard_readonly_sync_folder_warning", QT_TRANSLATE_NOOP("global", "The selected folder is read-only. Please choose another folder.")},  // 383
    {"wizard_invalid_sync_folder_warning", QT_TRANSLATE_NOOP("global", "The selected folder cannot be used for syncing.")},  // 384
    {"more_tutorial", QT_TRANSLATE_NOOP("global", "Show me more")},  // 385
    {"wizard_conflict_sync_folder_warning", QT_TRANSLATE_NOOP("global", "The selected folder overlaps with an existing sync folder.")},  // 386
    {"open_file", QT_TRANSLATE_NOOP("global", "Open file")},  // 387
    {"open_folder", QT_TRANSLATE_NOOP("global", "Open folder")},  // 388
    {"wizard_create_skyhold_folder", QT_TRANSLATE_NOOP("global", "Create a Skyhold folder")},  // 389
    {"wizard_setup_repeat_warning", QT_TRANSLATE_NOOP("global", "This folder is already synced by another task.")},  // 390
    {"wizard_setup_repeat_warning2", QT_TRANSLATE_NOOP("global", "Please choose a different folder.")},  // 391
    {"msg_err_offline", QT_TRANSLATE_NOOP("global", "You are offline.")},  // 392
    {"home_folder", QT_TRANSLATE_NOOP("global", "Home folder")},  // 393
    {"reserved_394", QT_TRANSLATE_NOOP("global", "Reserved")},  // 394
    {"err_ssl_change", QT_TRANSLATE_NOOP("global", "The server's certificate has changed.")},  // 395
    {"wizard_set_sync_folder", QT_TRANSLATE_NOOP("global", "Set the sync folder")},  // 396
    {"err_ip_not_allowed", QT_TRANSLATE_NOOP("global", "Connections from your IP address are not allowed.")},  // 397
    {"conflict_policy_desc", QT_TRANSLATE_NOOP("global", "When the same file changes on both sides:")},  // 398
    {"wizard_welcome_title", QT_TRANSLATE_NOOP("global", "Welcome")},  // 399
    {"sync_direction_mismatch", QT_TRANSLATE_NOOP("global", "The sync direction does not match the server's setting.")},  // 400
    {"last_page", QT_TRANSLATE_NOOP("global", "Last page")},  // 401
    {"first_page", QT_TRANSLATE_NOOP("global", "First page")},  // 402
    {"prev_x_pages", QT_TRANSLATE_NOOP("global", "Previous %1 pages")},  // 403
    {"next_x_pages", QT_TRANSLATE_NOOP("global", "Next %1 pages")},  // 404
    {"msg_unlinking", QT_TRANSLATE_NOOP("global", "Unlinking...")},  // 405
    {"err_max_tries", QT_TRANSLATE_NOOP("global", "Too many failed attempts. Please try again later.")},  // 406
    {"label_locked_file", QT_TRANSLATE_NOOP("global", "Locked file")},  // 407
    {"wizard_network_err_sync_folder_warning", QT_TRANSLATE_NOOP("global", "The sync folder cannot be checked because of a network error.")},  // 408
    {"wizard_share_nonexist_sync_folder_warning", QT_TRANSLATE_NOOP("global", "The shared folder no longer exists on the server.")},  // 409
    {"wizard_set_sync_folder_title", QT_TRANSLATE_NOOP("global", "Sync Folder")},  // 410
    {"conflict_policy_compare_mtime", QT_TRANSLATE_NOOP("global", "Keep the newer file")},  // 411
    {"two_way_sync", QT_TRANSLATE_NOOP("global", "Two-way sync")},  // 412
    {"wizard_set_sync_folder_desc", QT_TRANSLATE_NOOP("global", "Choose the folder on the server and the folder on this computer to sync.")},  // 413
    {"shared_folder", QT_TRANSLATE_NOOP("global", "Shared folder")},  // 414
    {"reserved_415", QT_TRANSLATE_NOOP("global", "Reserved")},  // 415
    {"folder_in_use_local_sync", QT_TRANSLATE_NOOP("global", "This folder is already used by another sync task.")},  // 416
    {"reserved_417", QT_TRANSLATE_NOOP("global", "Reserved")},  // 417
    {"wizard_ssl_change_sync_folder_warning", QT_TRANSLATE_NOOP("global", "The server's certificate has changed. Please check the connection.")},  // 418
    {"err_otp_required", QT_TRANSLATE_NOOP("global", "A verification code is required.")},  // 419
    {"err_otp_invalid", QT_TRANSLATE_NOOP("global", "The verification code is incorrect.")},  // 420
    {"connection_enter_otp", QT_TRANSLATE_NOOP("global", "Enter the verification code")},  // 421
    {"timescale_hour", QT_TRANSLATE_NOOP("global", "Hour")},  // 422
    {"wizard_quotafull_sync_folder_warning", QT_TRANSLATE_NOOP("global", "Your quota on the server is full.")},  // 423
    {"wizard_ssl_verify_fail_sync_folder_warning", QT_TRANSLATE_NOOP("global", "The server's certificate could not be verified.")},  // 424
    {"wizard_system_err_sync_folder_warning", QT_TRANSLATE_NOOP("global", "A system error occurred while checking the sync folder.")},  // 425
    {"manage_sync_tab_name", QT_TRANSLATE_NOOP("global", "Sync")},  // 426
    {"conflict_policy_overwrite_client", QT_TRANSLATE_NOOP("global", "Overwrite the local file with the server's version")},  // 427
    {"conflict_policy_rename_conflict", QT_TRANSLATE_NOOP("global", "Keep both files and rename the local copy")},  // 428
    {"reserved_429", QT_TRANSLATE_NOOP("global", "Reserved")},  // 429
    {"info_mergefolder", QT_TRANSLATE_NOOP("global", "Files in both folders will be merged.")},  // 430
    {"accessible_conn_list", QT_TRANSLATE_NOOP("global", "Connection list")},  // 431
    {"accessible_connected_server", QT_TRANSLATE_NOOP("global", "Connected server")},  // 432
    {"accessible_copy_share_link", QT_TRANSLATE_NOOP("global", "Copy the sharing link")},  // 433
    {"accessible_delete_permission_button", QT_TRANSLATE_NOOP("global", "Remove permission")},  // 434
    {"accessible_group", QT_TRANSLATE_NOOP("global", "Group")},  // 435
    {"accessible_open_web_portal", QT_TRANSLATE_NOOP("global", "Open the web portal")},  // 436
    {"accessible_pairing_local_machine", QT_TRANSLATE_NOOP("global", "Local folder on this computer")},  // 437
    {"accessible_pairing_remote_nas", QT_TRANSLATE_NOOP("global", "Folder on the server")},  // 438
    {"accessible_shared_with_me_session_desc", QT_TRANSLATE_NOOP("global", "Files shared with you")},  // 439
    {"accessible_tray_recently_change_tab", QT_TRANSLATE_NOOP("global", "Recently changed files")},  // 440
    {"accessible_tutorial_2", QT_TRANSLATE_NOOP("global", "Tutorial, step 2")},  // 441
    {"accessible_tutorial_3", QT_TRANSLATE_NOOP("global", "Tutorial, step 3")},  // 442
    {"accessible_tutorial_4", QT_TRANSLATE_NOOP("global", "Tutorial, step 4")},  // 443
    {"accessible_user", QT_TRANSLATE_NOOP("global", "User")},  // 444
    {"accessible_share_permission", QT_TRANSLATE_NOOP("global", "Sharing permission")},  // 445
    {"wizard_welcome_mask_desc", QT_TRANSLATE_NOOP("global", "Connect to your server to get started.")},  // 446
    {"schedulebkp_run_freq_unit", QT_TRANSLATE_NOOP("global", "hours")},  // 447
    {"quick_mode_open_folder_btn", QT_TRANSLATE_NOOP("global", "Open folder")},  // 448
    {"err_share_nonexist_short", QT_TRANSLATE_NOOP("global", "Shared folder not found")},  // 449
    {"msg_about", QT_TRANSLATE_NOOP("global", "Version %1\\nCopyright (C) Corvane. All rights reserved.")},  // 450
    {"err_otp_enforced", QT_TRANSLATE_NOOP("global", "Two-step verification is required for your account.")},  // 451
    {"msg_share_quotafull", QT_TRANSLATE_NOOP("global", "The quota of the shared folder \"%1\" is full.")},  // 452
    {"common_forminvalid", QT_TRANSLATE_NOOP("global", "Some fields are not filled in correctly.")},  // 453
    {"selective_sync_direction_title", QT_TRANSLATE_NOOP("global", "Sync direction")},  // 454
    {"notify_abnormal", QT_TRANSLATE_NOOP("global", "Syncing of \"%1\" stopped because of an error.")},  // 455
    {"advan_mode_set_share_folder_info", QT_TRANSLATE_NOOP("global", "Select a shared folder on the server.")},  // 456
    {"wizard_access_deny_sync_folder_warning", QT_TRANSLATE_NOOP("global", "You do not have permission to access this folder.")},  // 457
    {"wizard_user_disable_sync_folder_warning", QT_TRANSLATE_NOOP("global", "Your account has been disabled.")},  // 458
    {"manage_proxy_server_ip", QT_TRANSLATE_NOOP("global", "Address:")},  // 459
    {"sharing_exp_after", QT_TRANSLATE_NOOP("global", "Expires after")},  // 460
    {"context_menu_no_option_available", QT_TRANSLATE_NOOP("global", "No options available")},  // 461
    {"err_auth", QT_TRANSLATE_NOOP("global", "The user name or password is incorrect.")},  // 462
    {"block_file_name_tool_tip", QT_TRANSLATE_NOOP("global", "Use * and ? as wildcards.")},  // 463
    {"one_way_download", QT_TRANSLATE_NOOP("global", "One-way download")},  // 464
    {"wizard_share_name_duplicate_warning", QT_TRANSLATE_NOOP("global", "A folder with this name already exists.")},  // 465
    {"selective_enable_entire_attribute_check", QT_TRANSLATE_NOOP("global", "Check extended attributes of all files")},  // 466
    {"sharing_enable_expire_at", QT_TRANSLATE_NOOP("global", "Expires on")},  // 467
    {"common_fieldblank", QT_TRANSLATE_NOOP("global", "This field cannot be empty.")},  // 468
    {"sharing_restrict", QT_TRANSLATE_NOOP("global", "Restrict access")},  // 469
    {"type_file", QT_TRANSLATE_NOOP("global", "File")},  // 470
    {"manage_option_enable_context_menu", QT_TRANSLATE_NOOP("global", "Show the context menu in the file browser")},  // 471
    {"err_user_home_disabled", QT_TRANSLATE_NOOP("global", "The home folder service is disabled on the server.")},  // 472
    {"wizard_client_upgrade_failed", QT_TRANSLATE_NOOP("global", "The client could not be upgraded.")},  // 473
    {"sharing_apply_and_copy_button", QT_TRANSLATE_NOOP("global", "Apply and copy")},  // 474
    {"sharing_enable_expire_times", QT_TRANSLATE_NOOP("global", "Number of allowed accesses")},  // 475
    {"sharing_enable_start_at", QT_TRANSLATE_NOOP("global", "Available from")},  // 476
    {"wizard_client_upgrade", QT_TRANSLATE_NOOP("global", "A new version of the client is available. Upgrade now?")},  // 477
    {"filter_to", QT_TRANSLATE_NOOP("global", "To")},  // 478
    {"wizard_remote_not_mounted", QT_TRANSLATE_NOOP("global", "The remote folder is not mounted.")},  // 479
    {"accessible_info_button", QT_TRANSLATE_NOOP("global", "Information")},  // 480
    {"accessible_add_filename_button", QT_TRANSLATE_NOOP("global", "Add a file name")},  // 481
    {"accessible_title_local_destination", QT_TRANSLATE_NOOP("global", "Local destination")},  // 482
    {"accessible_language_button", QT_TRANSLATE_NOOP("global", "Language")},  // 483
    {"accessible_version_download_description", QT_TRANSLATE_NOOP("global", "Download this version")},  // 484
    {"sharing_customize_duration", QT_TRANSLATE_NOOP("global", "Custom duration")},  // 485
    {"accessible_pairing_sync_folder", QT_TRANSLATE_NOOP("global", "Sync folder pair")},  // 486
    {"accessible_sync_log_refresh_button", QT_TRANSLATE_NOOP("global", "Refresh the sync log")},  // 487
    {"accessible_calendar_prev_month", QT_TRANSLATE_NOOP("global", "Previous month")},  // 488
    {"accessible_sync_log_filter_lineedit", QT_TRANSLATE_NOOP("global", "Filter the sync log")},  // 489
    {"accessible_add_folder_button", QT_TRANSLATE_NOOP("global", "Add a folder")},  // 490
    {"accessible_calendar", QT_TRANSLATE_NOOP("global", "Calendar")},  // 491
    {"accessible_calendar_next_month", QT_TRANSLATE_NOOP("global", "Next month")},  // 492
    {"accessible_change_sync_folder_button", QT_TRANSLATE_NOOP("global", "Change the sync folder")},  // 493
    {"accessible_sync_log_category_combobox", QT_TRANSLATE_NOOP("global", "Sync log category")},  // 494
    {"accessible_sync_task_session_description", QT_TRANSLATE_NOOP("global", "Sync task")},  // 495
    {"accessible_title_remote_destination", QT_TRANSLATE_NOOP("global", "Remote destination")},  // 496
    {"accessible_title_settings", QT_TRANSLATE_NOOP("global", "Settings")},  // 497
    {"accessible_tutorial_close_button", QT_TRANSLATE_NOOP("global", "Close the tutorial")},  // 498
    {"accessible_version_download_abort_button", QT_TRANSLATE_NOOP("global", "Stop the download")},  // 499
    {"accessible_version_download_delete_button", QT_TRANSLATE_NOOP("global", "Delete the download")},  // 500
    {"err_pwd_expired", QT_TRANSLATE_NOOP("global", "Your password has expired.")},  // 501
    {"history_local_rename", QT_TRANSLATE_NOOP("global", "Renamed on this computer")},  // 502
    {"history_remote_rename", QT_TRANSLATE_NOOP("global", "Renamed on the server")},  // 503
    {"common_maxlengthtext", QT_TRANSLATE_NOOP("global", "Enter at most %1 characters.")},  // 504
    {"wizard_user_different_warning", QT_TRANSLATE_NOOP("global", "This folder was synced by another user.")},  // 505
    {"err_tunnel_disabled", QT_TRANSLATE_NOOP("global", "Relay connections are disabled.")},  // 506
    {"msg_download_fail_long", QT_TRANSLATE_NOOP("global", "The file \"%1\" could not be downloaded. Please try again later.")},  // 507
    {"wizard_auth_error_warning", QT_TRANSLATE_NOOP("global", "Authentication failed. Please sign in again.")},  // 508
    {"btn_settings", QT_TRANSLATE_NOOP("global", "Settings")},  // 509
    {"notification_page", QT_TRANSLATE_NOOP("global", "Notifications")},  // 510
    {"notification_page_action_comment", QT_TRANSLATE_NOOP("global", "%1 commented on %2")},  // 511
    {"notification_page_open_in_portal", QT_TRANSLATE_NOOP("global", "Open in the web portal")},  // 512
    {"btn_setup", QT_TRANSLATE_NOOP("global", "Set up")},  // 513
    {"server_info", QT_TRANSLATE_NOOP("global", "Server information")},  // 514
    {"tray_opendir", QT_TRANSLATE_NOOP("global", "Open folder")},  // 515
    {"read_only_tooltip_corvane", QT_TRANSLATE_NOOP("global", "You can view this folder in Corvane but not change it.")},  // 516
    {"col_file_type", QT_TRANSLATE_NOOP("global", "Type")},  // 517
    {"wizard_finish_pairing_desc_corvane", QT_TRANSLATE_NOOP("global", "Corvane will sync \"%1\" with \"%2\".")},  // 518
    {"msi_ready_dlg_description", QT_TRANSLATE_NOOP("global", "The Setup Wizard is ready to begin the installation.")},  // 519
    {"desc_skyhold_env_preparation_done_corvane", QT_TRANSLATE_NOOP("global", "%1 is ready.")},  // 520
    {"filter_customize", QT_TRANSLATE_NOOP("global", "Custom")},  // 521
    {"general_setting_show_tutorial_corvane", QT_TRANSLATE_NOOP("global", "Show the Corvane tutorial")},  // 522
    {"msg_running_corvane", QT_TRANSLATE_NOOP("global", "Corvane is running.")},  // 523
    {"filter_from", QT_TRANSLATE_NOOP("global", "From")},  // 524
    {"wizard_welcome_mask_desc_corvane", QT_TRANSLATE_NOOP("global", "Connect Corvane to your server to get started.")},  // 525
    {"upgrade_failed_corvane", QT_TRANSLATE_NOOP("global", "Corvane could not be upgraded.")},  // 526
    {"filter_keyword", QT_TRANSLATE_NOOP("global", "Keyword")},  // 527
    {"reserved_528", QT_TRANSLATE_NOOP("global", "Reserved")},  // 528
    {"accessible_create_sync_task_desc", QT_TRANSLATE_NOOP("global", "Create a sync task")},  // 529
    {"conflict_dropbox_corvane", QT_TRANSLATE_NOOP("global", "A conflict was found; Corvane kept both copies.")},  // 530
    {"confirm_lostchange", QT_TRANSLATE_NOOP("global", "Unsaved changes will be lost. Continue?")},  // 531
    {"accessible_tutorial_description_corvane", QT_TRANSLATE_NOOP("global", "Learn how to use Corvane")},  // 532
    {"err_autoconn_invalidid_corvane", QT_TRANSLATE_NOOP("global", "Corvane could not connect: the server ID is invalid.")},  // 533
    {"advan_mode_set_share_folder_info_corvane", QT_TRANSLATE_NOOP("global", "Select the shared folder to sync with Corvane.")},  // 534
    {"manage_option_enable_startup_corvane", QT_TRANSLATE_NOOP("global", "Start Corvane when I log in")},  // 535
    {"desc_skyhold_env_preparing_corvane", QT_TRANSLATE_NOOP("global", "%1 is initializing...")},  // 536
    {"err_proto_corvane", QT_TRANSLATE_NOOP("global", "The server does not support this version of Corvane.")},  // 537
    {"err_version_client_corvane", QT_TRANSLATE_NOOP("global", "This version of Corvane is too old. Please upgrade.")},  // 538
    {"err_version_short_corvane", QT_TRANSLATE_NOOP("global", "Corvane version not supported")},  // 539
    {"msg_diskfull_corvane", QT_TRANSLATE_NOOP("global", "Corvane stopped syncing because the disk is full.")},  // 540
    {"msg_error_corvane", QT_TRANSLATE_NOOP("global", "Corvane encountered an error.")},  // 541
    {"accessible_tray_notification_tab", QT_TRANSLATE_NOOP("global", "Notifications")},  // 542
    {"msg_folder_not_empty_corvane", QT_TRANSLATE_NOOP("global", "The folder \"%1\" is not empty. Corvane will merge its files.")},  // 543
    {"one_way_sync_download_corvane", QT_TRANSLATE_NOOP("global", "Download changes from the server to Corvane only")},  // 544
    {"quick_mode_end_msg_corvane", QT_TRANSLATE_NOOP("global", "Corvane is now syncing your files.")},  // 545
    {"accessible_tutorial_1", QT_TRANSLATE_NOOP("global", "Tutorial, step 1")},  // 546
    {"reserved_547", QT_TRANSLATE_NOOP("global", "Reserved")},  // 547
    {"wizard_welcome_desc_corvane", QT_TRANSLATE_NOOP("global", "Welcome to Corvane. Let's set up your first sync task.")},  // 548
    {"almost_done_corvane_server", QT_TRANSLATE_NOOP("global", "Almost done: the server is ready for Corvane.")},  // 549
    {"almost_done_local", QT_TRANSLATE_NOOP("global", "Almost done: preparing the local folder.")},  // 550
    {"filter_search", QT_TRANSLATE_NOOP("global", "Search")},  // 551
    {"filter_yesterday", QT_TRANSLATE_NOOP("global", "Yesterday")},  // 552
    {"msg_fail", QT_TRANSLATE_NOOP("global", "Failed")},  // 553
    {"wizard_create_corvane_folder", QT_TRANSLATE_NOOP("global", "Create a Corvane folder")},  // 554
    {"reserved_555", QT_TRANSLATE_NOOP("global", "Reserved")},  // 555
    {"reserved_556", QT_TRANSLATE_NOOP("global", "Reserved")},  // 556
    {"accessible_tutorial_description", QT_TRANSLATE_NOOP("global", "Learn how to use the client")},  // 557
    {"app_name", QT_TRANSLATE_NOOP("global", "Skyhold")},  // 558
    {"timescale_week", QT_TRANSLATE_NOOP("global", "Week")},  // 559
    {"conflict_dropbox", QT_TRANSLATE_NOOP("global", "A conflict was found; both copies were kept.")},  // 560
    {"desc_skyhold_env_preparation_done", QT_TRANSLATE_NOOP("global", "%1 is ready.")},  // 561
    {"desc_skyhold_env_preparing", QT_TRANSLATE_NOOP("global", "%1 is initializing...")},  // 562
    {"err_autoconn_invalidid", QT_TRANSLATE_NOOP("global", "Could not connect: the server ID is invalid.")},  // 563
    {"err_version_client", QT_TRANSLATE_NOOP("global", "This client version is too old. Please upgrade.")},  // 564
    {"err_version_server", QT_TRANSLATE_NOOP("global", "The server version is too old for this client.")},  // 565
    {"err_version_short", QT_TRANSLATE_NOOP("global", "Version not supported")},  // 566
    {"general_setting_show_tutorial", QT_TRANSLATE_NOOP("global", "Show the tutorial")},  // 567
    {"manage_option_enable_startup", QT_TRANSLATE_NOOP("global", "Start the client when I log in")},  // 568
    {"msg_error", QT_TRANSLATE_NOOP("global", "An error occurred.")},  // 569
    {"msg_finish", QT_TRANSLATE_NOOP("global", "Finished.")},  // 570
    {"msg_finish_way", QT_TRANSLATE_NOOP("global", "Syncing is set up. Your files are syncing in the background.")},  // 571
    {"msg_folder_not_empty", QT_TRANSLATE_NOOP("global", "The folder \"%1\" is not empty.")},  // 572
    {"msg_running", QT_TRANSLATE_NOOP("global", "The client is running.")},  // 573
    {"quick_mode_end_msg", QT_TRANSLATE_NOOP("global", "The client is now syncing your files.")},  // 574
    {"read_only_tooltip", QT_TRANSLATE_NOOP("global", "You can view this folder but not change it.")},  // 575
    {"status_desc_version_short", QT_TRANSLATE_NOOP("global", "Version not supported")},  // 576
    {"reserved_577", QT_TRANSLATE_NOOP("global", "Reserved")},  // 577
    {"tray_click_to_update", QT_TRANSLATE_NOOP("global", "Click to update")},  // 578
    {"update_pkg_for_selective_sync", QT_TRANSLATE_NOOP("global", "Update the client to use selective sync.")},  // 579
    {"op_clean", QT_TRANSLATE_NOOP("global", "Clean up")},  // 580
    {"op_date_time", QT_TRANSLATE_NOOP("global", "Date and time")},  // 581
    {"wizard_diskfull_sync_folder_warning", QT_TRANSLATE_NOOP("global", "There is not enough free space on the disk of the selected folder.")},  // 582
    {"wizard_finish_pairing_desc", QT_TRANSLATE_NOOP("global", "The client will sync \"%1\" with \"%2\".")},  // 583
    {"wizard_setup_repeat_warning_desc", QT_TRANSLATE_NOOP("global", "Choose a folder that is not synced yet.")},  // 584
    {"wizard_welcome_desc", QT_TRANSLATE_NOOP("global", "Welcome. Let's set up your first sync task.")},  // 585
    {"wizard_welcome_footer_info", QT_TRANSLATE_NOOP("global", "Need help? Visit our support site.")},  // 586
    {"perm_commenter", QT_TRANSLATE_NOOP("global", "Commenter")},  // 587
    {"perm_app_ro_desc", QT_TRANSLATE_NOOP("global", "Users can view the files.")},  // 588
    {"perm_app_rw_desc", QT_TRANSLATE_NOOP("global", "Users can view and edit the files.")},  // 589
    {"perm_limit_desc", QT_TRANSLATE_NOOP("global", "Only the people you invite can open the link.")},  // 590
    {"perm_public_commenter_desc", QT_TRANSLATE_NOOP("global", "Anyone with the link can view and comment.")},  // 591
    {"perm_public_ro_desc", QT_TRANSLATE_NOOP("global", "Anyone with the link can view.")},  // 592
    {"perm_app_commenter_desc", QT_TRANSLATE_NOOP("global", "Users can view and comment on the files.")},  // 593
    {"perm_public_rw_desc", QT_TRANSLATE_NOOP("global", "Anyone with the link can view and edit.")},  // 594
    {"perm_ro", QT_TRANSLATE_NOOP("global", "Viewer")},  // 595
    {"perm_organizer", QT_TRANSLATE_NOOP("global", "Organizer")},  // 596
    {"perm_rw", QT_TRANSLATE_NOOP("global", "Editor")},  // 597
    {"desc_cannot_open_portal", QT_TRANSLATE_NOOP("global", "The web portal cannot be opened.")},  // 598
    {"share_invite", QT_TRANSLATE_NOOP("global", "Invite people")},  // 599
    {"perm_na", QT_TRANSLATE_NOOP("global", "No access")},  // 600
    {"empty_share", QT_TRANSLATE_NOOP("global", "Nothing has been shared yet.")},  // 601
    {"op_download", QT_TRANSLATE_NOOP("global", "Download")},  // 602
    {"err_public_sharing_disabled", QT_TRANSLATE_NOOP("global", "Public sharing is disabled.")},  // 603
    {"err_sharing_disabled_contact_admin", QT_TRANSLATE_NOOP("global", "Sharing is disabled. Please contact your administrator.")},  // 604
    {"tray_rename", QT_TRANSLATE_NOOP("global", "Renamed")},  // 605
    {"op_restore", QT_TRANSLATE_NOOP("global", "Restore")},  // 606
    {"reserved_607", QT_TRANSLATE_NOOP("global", "Reserved")},  // 607
    {"remove_link_desc", QT_TRANSLATE_NOOP("global", "People with this link will no longer be able to open it.")},  // 608
    {"reserved_609", QT_TRANSLATE_NOOP("global", "Reserved")},  // 609
    {"common_no_data", QT_TRANSLATE_NOOP("global", "No data")},  // 610
    {"common_share", QT_TRANSLATE_NOOP("global", "Share")},  // 611
    {"err_dir_file_not_exist", QT_TRANSLATE_NOOP("global", "The file or folder does not exist.")},  // 612
    {"err_permission", QT_TRANSLATE_NOOP("global", "Permission denied.")},  // 613
    {"schedulebkp_weekend", QT_TRANSLATE_NOOP("global", "Weekends")},  // 614
    {"perm_app", QT_TRANSLATE_NOOP("global", "Application permission")},  // 615
    {"my_corvane", QT_TRANSLATE_NOOP("global", "My Corvane")},  // 616
    {"perm_limit", QT_TRANSLATE_NOOP("global", "Restricted")},  // 617
    {"perm_public", QT_TRANSLATE_NOOP("global", "Public")},  // 618
    {"btn_change", QT_TRANSLATE_NOOP("global", "Change")},  // 619
    {"enable_expiration", QT_TRANSLATE_NOOP("global", "Set an expiry date")},  // 620
    {"share_user_group", QT_TRANSLATE_NOOP("global", "Users and groups")},  // 621
    {"app_name_corvane", QT_TRANSLATE_NOOP("global", "Corvane")},  // 622
    {"display_setting_bw_desc", QT_TRANSLATE_NOOP("global", "Use monochrome icons in the menu bar.")},  // 623
    {"display_tab", QT_TRANSLATE_NOOP("global", "Display")},  // 624
    {"display_setting_local_folder_desc", QT_TRANSLATE_NOOP("global", "Show the sync folder in the sidebar.")},  // 625
    {"notification_page_action_mentioned", QT_TRANSLATE_NOOP("global", "%1 mentioned you in %2")},  // 626
    {"notification_page_action_request_access", QT_TRANSLATE_NOOP("global", "%1 requested access to %2")},  // 627
    {"tray_share_file", QT_TRANSLATE_NOOP("global", "Share file")},  // 628
    {"notification_page_action_shared", QT_TRANSLATE_NOOP("global", "%1 shared %2 with you")},  // 629
    {"notification_page_sync", QT_TRANSLATE_NOOP("global", "Sync")},  // 630
    {"notification_page_shared", QT_TRANSLATE_NOOP("global", "Shared")},  // 631
    {"notification_request_access", QT_TRANSLATE_NOOP("global", "Access requests")},  // 632
    {"notification_page_comment", QT_TRANSLATE_NOOP("global", "Comments")},  // 633
    {"shared_with_me", QT_TRANSLATE_NOOP("global", "Shared with me")},  // 634
    {"notification_page_mentioned", QT_TRANSLATE_NOOP("global", "Mentions")},  // 635
    {"notification_tab", QT_TRANSLATE_NOOP("global", "Notifications")},  // 636
    {"one_way_upload", QT_TRANSLATE_NOOP("global", "One-way upload")},  // 637
    {"dont_remove_server_when_local_remove", QT_TRANSLATE_NOOP("global", "Do not remove files on the server when they are removed locally")},  // 638
    {"btn_later", QT_TRANSLATE_NOOP("global", "Later")},  // 639
    {"tray_notification_download_finished", QT_TRANSLATE_NOOP("global", "Download finished")},  // 640
    {"tray_notification_title", QT_TRANSLATE_NOOP("global", "Notification")},  // 641
    {"tray_synced_on_all_devices", QT_TRANSLATE_NOOP("global", "Synced on all your devices")},  // 642
    {"tutorial_access_web_portal", QT_TRANSLATE_NOOP("global", "Open your files in any browser through the web portal.")},  // 643
    {"tutorial_congrats", QT_TRANSLATE_NOOP("global", "Congratulations!")},  // 644
    {"tutorial_congrats_sub", QT_TRANSLATE_NOOP("global", "You are ready to sync.")},  // 645
    {"wizard_shared_with_me_enable_later", QT_TRANSLATE_NOOP("global", "Maybe later")},  // 646
    {"wizard_shared_with_me_enable_now", QT_TRANSLATE_NOOP("global", "Enable now")},  // 647
    {"wizard_shared_with_me_title", QT_TRANSLATE_NOOP("global", "Shared with Me")},  // 648
    {"create_sync_task_title", QT_TRANSLATE_NOOP("global", "Create a Sync Task")},  // 649
    {"create_sync_task_general", QT_TRANSLATE_NOOP("global", "Sync a folder")},  // 650
    {"create_sync_task_shared_with_me", QT_TRANSLATE_NOOP("global", "Sync files shared with me")},  // 651
    {"reserved_652", QT_TRANSLATE_NOOP("global", "Reserved")},  // 652
    {"err_proto", QT_TRANSLATE_NOOP("global", "The server does not support this client version.")},  // 653
    {"msg_diskfull", QT_TRANSLATE_NOOP("global", "The disk is full.")},  // 654
    {"team_folder", QT_TRANSLATE_NOOP("global", "Team folder")},  // 655
    {"one_way_sync_download", QT_TRANSLATE_NOOP("global", "Download changes from the server only")},  // 656
    {"upgrade_failed", QT_TRANSLATE_NOOP("global", "The upgrade failed.")},  // 657
    {"reserved_658", QT_TRANSLATE_NOOP("global", "Reserved")},  // 658
    {"tray_share_dir", QT_TRANSLATE_NOOP("global", "Share folder")},  // 659
    {"tray_request_dir", QT_TRANSLATE_NOOP("global", "Request files for folder")},  // 660
    {"tray_request_file", QT_TRANSLATE_NOOP("global", "Request file")},  // 661
    {"reserved_662", QT_TRANSLATE_NOOP("global", "Reserved")},  // 662
    {"reserved_663", QT_TRANSLATE_NOOP("global", "Reserved")},  // 663
    {"reserved_664", QT_TRANSLATE_NOOP("global", "Reserved")},  // 664
    {"privacy_setting", QT_TRANSLATE_NOOP("global", "Privacy settings")},  // 665
    {"enable_password", QT_TRANSLATE_NOOP("global", "Protect with a password")},  // 666
    {"share_permission", QT_TRANSLATE_NOOP("global", "Permission")},  // 667
    {"schedulebkp_weekdays", QT_TRANSLATE_NOOP("global", "Weekdays")},  // 668
    {"wizard_create_shared_with_me_folder", QT_TRANSLATE_NOOP("global", "Create a folder for files shared with me")},  // 669
    {"type_any", QT_TRANSLATE_NOOP("global", "Any")},  // 670
    {"btn_pause", QT_TRANSLATE_NOOP("global", "Pause")},  // 671
    {"btn_resume", QT_TRANSLATE_NOOP("global", "Resume")},  // 672
    {"btn_unlink", QT_TRANSLATE_NOOP("global", "Unlink")},  // 673
    {"connection_password", QT_TRANSLATE_NOOP("global", "Password")},  // 674
    {"connection_username", QT_TRANSLATE_NOOP("global", "User name")},  // 675
    {"main_queue_column_progress", QT_TRANSLATE_NOOP("global", "Progress")},  // 676
    {"main_queue_preparing", QT_TRANSLATE_NOOP("global", "Preparing")},  // 677
    {"main_status_connecting", QT_TRANSLATE_NOOP("global", "Connecting...")},  // 678
    {"main_status_error", QT_TRANSLATE_NOOP("global", "Error")},  // 679
    {"wizard_summary_table_account", QT_TRANSLATE_NOOP("global", "Account")},  // 680
    {"wizard_summary_table_server", QT_TRANSLATE_NOOP("global", "Server")},  // 681
    {"wizard_summary_title", QT_TRANSLATE_NOOP("global", "Summary")},  // 682
    {"schedulebkp_realtime_backup_desc", QT_TRANSLATE_NOOP("global", "Back up changes as soon as they happen.")},  // 683
    {"filter_label_text", QT_TRANSLATE_NOOP("global", "Filter:")},  // 684
    {"schedulebkp_scheduled_backup_desc", QT_TRANSLATE_NOOP("global", "Back up on a schedule.")},  // 685
    {"auto_shutdown_confirm", QT_TRANSLATE_NOOP("global", "The computer will shut down when the backup finishes. Continue?")},  // 686
    {"wizard_task_select_backup_title", QT_TRANSLATE_NOOP("global", "Back up")},  // 687
    {"wizard_task_select_sync_title", QT_TRANSLATE_NOOP("global", "Sync")},  // 688
    {"wizard_connection_tonas_title", QT_TRANSLATE_NOOP("global", "Connect to Server")},  // 689
    {"backup_welcome_desc", QT_TRANSLATE_NOOP("global", "Back up the folders on this computer to the server.")},  // 690
    {"backup_task_mode_manual_info", QT_TRANSLATE_NOOP("global", "Backups run only when you start them.")},  // 691
    {"get_file_link", QT_TRANSLATE_NOOP("global", "Get link")},  // 692
    {"schedulebkp_backup_schedule_run_on", QT_TRANSLATE_NOOP("global", "Run on")},  // 693
    {"schedulebkp_backup_schedule_start_time", QT_TRANSLATE_NOOP("global", "Start time")},  // 694
    {"schedulebkp_backup_schedule_freq", QT_TRANSLATE_NOOP("global", "Frequency")},  // 695
    {"schedulebkp_backup_schedule_last_end_time", QT_TRANSLATE_NOOP("global", "Last finished")},  // 696
    {"schedulebkp_backup_schedule_last_run_time", QT_TRANSLATE_NOOP("global", "Last started")},  // 697
    {"commenter", QT_TRANSLATE_NOOP("global", "Commenter")},  // 698
    {"sharelink_manage_tooltip", QT_TRANSLATE_NOOP("global", "Manage sharing links")},  // 699
    {"backup_task_mode_continuous_info", QT_TRANSLATE_NOOP("global", "Changes are backed up continuously.")},  // 700
    {"btn_open_explorer", QT_TRANSLATE_NOOP("global", "Open in file browser")},  // 701
    {"main_desc_last_upload", QT_TRANSLATE_NOOP("global", "Last upload: %1")},  // 702
    {"main_task_setting", QT_TRANSLATE_NOOP("global", "Task settings")},  // 703
    {"schedulebkp_next_day_desc", QT_TRANSLATE_NOOP("global", "(next day)")},  // 704
    {"err_get_sharing_info", QT_TRANSLATE_NOOP("global", "The sharing information could not be retrieved.")},  // 705
    {"backup_chooser_destination", QT_TRANSLATE_NOOP("global", "Backup destination")},  // 706
    {"schedulebkp_manual_backup_desc", QT_TRANSLATE_NOOP("global", "Back up only when you click Back Up Now.")},  // 707
    {"allow_download", QT_TRANSLATE_NOOP("global", "Allow downloads")},  // 708
    {"backup_task_mode_schedule_info", QT_TRANSLATE_NOOP("global", "Backups run on the schedule you set.")},  // 709
    {"schedulebkp_backup_schedule_title", QT_TRANSLATE_NOOP("global", "Backup Schedule")},  // 710
    {"manager", QT_TRANSLATE_NOOP("global", "Manager")},  // 711
    {"previewer", QT_TRANSLATE_NOOP("global", "Previewer")},  // 712
    {"editor", QT_TRANSLATE_NOOP("global", "Editor")},  // 713
    {"preview_commenter", QT_TRANSLATE_NOOP("global", "Previewer and commenter")},  // 714
    {"backup_task_create", QT_TRANSLATE_NOOP("global", "Create a backup task")},  // 715
    {"setting_filter_table_desc", QT_TRANSLATE_NOOP("global", "Files that match these rules are not synced.")},  // 716
    {"sync_temp_file", QT_TRANSLATE_NOOP("global", "Sync temporary files")},  // 717
    {"wizard_task_select_backup_desc", QT_TRANSLATE_NOOP("global", "Back up folders on this computer to the server.")},  // 718
    {"schedulebkp_choose_mode_description", QT_TRANSLATE_NOOP("global", "Choose when backups run.")},  // 719
    {"backup_chooser_no_folder_selected", QT_TRANSLATE_NOOP("global", "No folder selected.")},  // 720
    {"main_backup_information_desc", QT_TRANSLATE_NOOP("global", "%1 files backed up")},  // 721
    {"main_status_pause", QT_TRANSLATE_NOOP("global", "Paused")},  // 722
    {"wizard_summary_table_remote_title", QT_TRANSLATE_NOOP("global", "Remote folder")},  // 723
    {"history_page_title", QT_TRANSLATE_NOOP("global", "History")},  // 724
    {"first_page_backup_start", QT_TRANSLATE_NOOP("global", "Start backing up")},  // 725
    {"backup_rule_desc", QT_TRANSLATE_NOOP("global", "Backup rules")},  // 726
    {"folder_chooser_not_select_desc", QT_TRANSLATE_NOOP("global", "Please select a folder.")},  // 727
    {"context_menu_dehydrate", QT_TRANSLATE_NOOP("global", "Free up space")},  // 728
    {"context_menu_pin_to_local", QT_TRANSLATE_NOOP("global", "Always keep on this device")},  // 729
    {"context_menu_unpin", QT_TRANSLATE_NOOP("global", "Keep online only")},  // 730
    {"schedulebkp_backup_schedule_cust_days", QT_TRANSLATE_NOOP("global", "Custom days")},  // 731
    {"schedulebkp_when_done", QT_TRANSLATE_NOOP("global", "When the backup is done:")},  // 732
    {"treedialog_pcname_desc", QT_TRANSLATE_NOOP("global", "Folders on %1")},  // 733
    {"treedialog_server_desc", QT_TRANSLATE_NOOP("global", "Folders on the server")},  // 734
    {"setting_filter_max_size", QT_TRANSLATE_NOOP("global", "Maximum size")},  // 735
    {"setting_filter_point_prefix", QT_TRANSLATE_NOOP("global", "Skip files whose names begin with a dot")},  // 736
    {"err_no_valid_folder", QT_TRANSLATE_NOOP("global", "No valid folder was selected.")},  // 737
    {"bkp_freq_unit_every", QT_TRANSLATE_NOOP("global", "Every")},  // 738
    {"first_page_sync_start", QT_TRANSLATE_NOOP("global", "Start syncing")},  // 739
    {"wizard_register_session_failed", QT_TRANSLATE_NOOP("global", "The task could not be registered with the server.")},  // 740
    {"reserved_741", QT_TRANSLATE_NOOP("global", "Reserved")},  // 741
    {"backup_err_proto", QT_TRANSLATE_NOOP("global", "The server does not support backups from this client version.")},  // 742
    {"backup_err_ssl_verify_fail", QT_TRANSLATE_NOOP("global", "Backup stopped: the server's certificate could not be verified.")},  // 743
    {"backup_err_version_client", QT_TRANSLATE_NOOP("global", "Backup stopped: this client version is too old.")},  // 744
    {"Invalid_client_ver_desc", QT_TRANSLATE_NOOP("global", "The client version is not supported. Please upgrade the client.")},  // 745
    {"authentication_err_desc", QT_TRANSLATE_NOOP("global", "Authentication failed. Check your user name and password.")},  // 746
    {"connection_error_desc", QT_TRANSLATE_NOOP("global", "The connection to the server failed.")},  // 747
    {"denied_access_IPaddr_desc", QT_TRANSLATE_NOOP("global", "Your IP address has been denied access.")},  // 748
    {"invalid_certificate_err_desc", QT_TRANSLATE_NOOP("global", "The server's certificate is not valid.")},  // 749
    {"invalid_software_ver_desc", QT_TRANSLATE_NOOP("global", "The server's software version is not supported.")},  // 750
    {"main_status_not_backup_yet", QT_TRANSLATE_NOOP("global", "Not backed up yet")},  // 751
    {"wizard_task_select_sync_desc", QT_TRANSLATE_NOOP("global", "Keep a folder on this computer in sync with the server.")},  // 752
    {"learn_more", QT_TRANSLATE_NOOP("global", "Learn more")},  // 753
    {"schedulebkp_set_plan_description", QT_TRANSLATE_NOOP("global", "Set when backups run.")},  // 754
    {"schedulebkp_do_missing_backup", QT_TRANSLATE_NOOP("global", "Run missed backups at the next start")},  // 755
    {"wizard_connection_setting_desc", QT_TRANSLATE_NOOP("global", "Enter the server address and your account.")},  // 756
    {"wizard_setsyncfolder_desc", QT_TRANSLATE_NOOP("global", "Choose the folders to sync.")},  // 757
    {"wizard_summary_desc", QT_TRANSLATE_NOOP("global", "Check the settings below and click Done.")},  // 758
    {"wizard_summary_table_path", QT_TRANSLATE_NOOP("global", "Path")},  // 759
    {"invalid_package_ver_desc", QT_TRANSLATE_NOOP("global", "The package version is not supported.")},  // 760
    {"backup_err_auth", QT_TRANSLATE_NOOP("global", "Backup stopped: authentication failed.")},  // 761
    {"backup_err_ip_not_allowed", QT_TRANSLATE_NOOP("global", "Backup stopped: your IP address is not allowed.")},  // 762
    {"backup_err_version_server", QT_TRANSLATE_NOOP("global", "Backup stopped: the server version is too old.")},  // 763
    {"backup_chooser_have_fakenode", QT_TRANSLATE_NOOP("global", "Some selected folders no longer exist.")},  // 764
    {"bkp_title_err_sync_direction_mismatch", QT_TRANSLATE_NOOP("global", "Direction Mismatch")},  // 765
    {"msi_ready_dlg_text_corvane", QT_TRANSLATE_NOOP("global", "Click Install to begin installing Corvane.")},  // 766
    {"bkp_wizard_connection_setting_desc", QT_TRANSLATE_NOOP("global", "Enter the address of the backup server and your account.")},  // 767
    {"bkp_desc_diskfull", QT_TRANSLATE_NOOP("global", "The backup stopped because the disk is full.")},  // 768
    {"bkp_title_err_share_not_mounted", QT_TRANSLATE_NOOP("global", "Shared Folder Not Mounted")},  // 769
    {"backup_temp_file", QT_TRANSLATE_NOOP("global", "Back up temporary files")},  // 770
    {"bkp_summary_mon", QT_TRANSLATE_NOOP("global", "Mon")},  // 771
    {"bkp_summary_thur", QT_TRANSLATE_NOOP("global", "Thu")},  // 772
    {"bkp_summary_sat", QT_TRANSLATE_NOOP("global", "Sat")},  // 773
    {"bkp_title_err_user_home_disabled", QT_TRANSLATE_NOOP("global", "Home Folder Disabled")},  // 774
    {"bkp_desc_err_user_home_disabled", QT_TRANSLATE_NOOP("global", "The home folder service is disabled on the server.")},  // 775
    {"bkp_title_local_folder_miss", QT_TRANSLATE_NOOP("global", "Local Folder Missing")},  // 776
    {"bkp_desc_err_init_failed", QT_TRANSLATE_NOOP("global", "The backup task could not be initialized.")},  // 777
    {"bkp_desc_err_share_not_mounted", QT_TRANSLATE_NOOP("global", "The destination shared folder is not mounted.")},  // 778
    {"bkp_title_err_share_perm", QT_TRANSLATE_NOOP("global", "No Permission")},  // 779
    {"bkp_desc_err_share_perm", QT_TRANSLATE_NOOP("global", "You do not have permission to write to the destination.")},  // 780
    {"bkp_title_err_syncfolder_not_mounted", QT_TRANSLATE_NOOP("global", "Folder Not Mounted")},  // 781
    {"almost_done_corvane_server_corvane", QT_TRANSLATE_NOOP("global", "Almost done: the server is ready for Corvane.")},  // 782
    {"one_way_sync_download_from_server_corvane", QT_TRANSLATE_NOOP("global", "Download changes from the server to Corvane only")},  // 783
    {"bkp_summary_fri", QT_TRANSLATE_NOOP("global", "Fri")},  // 784
    {"role", QT_TRANSLATE_NOOP("global", "Role")},  // 785
    {"bkp_summary_sun", QT_TRANSLATE_NOOP("global", "Sun")},  // 786
    {"bkp_summary_tues", QT_TRANSLATE_NOOP("global", "Tue")},  // 787
    {"bkp_summary_wed", QT_TRANSLATE_NOOP("global", "Wed")},  // 788
    {"friday", QT_TRANSLATE_NOOP("global", "Friday")},  // 789
    {"monday", QT_TRANSLATE_NOOP("global", "Monday")},  // 790
    {"saturday", QT_TRANSLATE_NOOP("global", "Saturday")},  // 791
    {"sunday", QT_TRANSLATE_NOOP("global", "Sunday")},  // 792
    {"thursday", QT_TRANSLATE_NOOP("global", "Thursday")},  // 793
    {"tuesday", QT_TRANSLATE_NOOP("global", "Tuesday")},  // 794
    {"wednesday", QT_TRANSLATE_NOOP("global", "Wednesday")},  // 795
    {"msi_eula_dlg_reject", QT_TRANSLATE_NOOP("global", "I &do not accept the terms in the License Agreement")},  // 796
    {"bkp_title_diskfull", QT_TRANSLATE_NOOP("global", "Disk Full")},  // 797
    {"bkp_title_err_init_failed", QT_TRANSLATE_NOOP("global", "Initialization Failed")},  // 798
    {"download", QT_TRANSLATE_NOOP("global", "Download")},  // 799
    {"bkp_desc_err_sync_direction_mismatch", QT_TRANSLATE_NOOP("global", "The backup direction does not match the server's setting.")},  // 800
    {"bkp_desc_err_syncfolder_not_mounted", QT_TRANSLATE_NOOP("global", "The folder to back up is not mounted.")},  // 801
    {"bkp_desc_local_folder_miss", QT_TRANSLATE_NOOP("global", "The folder to back up cannot be found.")},  // 802
    {"bkp_title_msg_share_quotafull", QT_TRANSLATE_NOOP("global", "Shared Folder Quota Full")},  // 803
    {"bkp_desc_msg_share_quotafull", QT_TRANSLATE_NOOP("global", "The quota of the destination shared folder is full.")},  // 804
    {"bkp_title_quotafull", QT_TRANSLATE_NOOP("global", "Quota Full")},  // 805
    {"bkp_desc_quotafull", QT_TRANSLATE_NOOP("global", "Your quota on the server is full.")},  // 806
    {"bkp_title_remote_folder_nonexist", QT_TRANSLATE_NOOP("global", "Destination Not Found")},  // 807
    {"bkp_desc_remote_folder_nonexist", QT_TRANSLATE_NOOP("global", "The destination folder no longer exists on the server.")},  // 808
    {"share_link_perm", QT_TRANSLATE_NOOP("global", "Link permission")},  // 809
    {"btn_apply", QT_TRANSLATE_NOOP("global", "Apply")},  // 810
    {"schedulebkp_next_backup_time", QT_TRANSLATE_NOOP("global", "Next backup: %1")},  // 811
    {"schedulebkp_backup_plan", QT_TRANSLATE_NOOP("global", "Backup plan")},  // 812
    {"sharing_link", QT_TRANSLATE_NOOP("global", "Sharing link")},  // 813
    {"share_link", QT_TRANSLATE_NOOP("global", "Share link")},  // 814
    {"corvane_backup_server_version_not_support", QT_TRANSLATE_NOOP("global", "The server version does not support Corvane backups.")},  // 815
    {"reserved_816", QT_TRANSLATE_NOOP("global", "Reserved")},  // 816
    {"manage_share_loading", QT_TRANSLATE_NOOP("global", "Loading shared folders...")},  // 817
    {"msg_network_corvane_watch", QT_TRANSLATE_NOOP("global", "Corvane is waiting for the network.")},  // 818
    {"msg_ssl_change", QT_TRANSLATE_NOOP("global", "The server's certificate has changed. Do you trust the new certificate?")},  // 819
    {"msg_ssl_error", QT_TRANSLATE_NOOP("global", "The secure connection to %1 failed.")},  // 820
    {"msg_welcome", QT_TRANSLATE_NOOP("global", "Welcome, %1!")},  // 821
    {"quick_mode_finish_page_more_detail", QT_TRANSLATE_NOOP("global", "More details")},  // 822
    {"quick_mode_finish_page_more_detail_corvane", QT_TRANSLATE_NOOP("global", "More details about Corvane")},  // 823
    {"status_desc_diskfull", QT_TRANSLATE_NOOP("global", "Syncing stopped because the disk is full.")},  // 824
    {"status_desc_errversion_server", QT_TRANSLATE_NOOP("global", "The server version is not supported.")},  // 825
    {"status_desc_linking", QT_TRANSLATE_NOOP("global", "Connecting to the server...")},  // 826
    {"status_desc_uptodate", QT_TRANSLATE_NOOP("global", "Up to date")},  // 827
    {"password_field_title", QT_TRANSLATE_NOOP("global", "Password")},  // 828
    {"preview", QT_TRANSLATE_NOOP("global", "Preview")},  // 829
    {"sol_name_corvane", QT_TRANSLATE_NOOP("global", "Corvane")},  // 830
    {"directory_link", QT_TRANSLATE_NOOP("global", "Folder link")},  // 831
    {"expire_field_title", QT_TRANSLATE_NOOP("global", "Expires")},  // 832
    {"del", QT_TRANSLATE_NOOP("global", "Delete")},  // 833
    {"time_now", QT_TRANSLATE_NOOP("global", "Now")},  // 834
    {"upload", QT_TRANSLATE_NOOP("global", "Upload")},  // 835
    {"Invalid_client_ver_desc_corvane", QT_TRANSLATE_NOOP("global", "This version of Corvane is not supported. Please upgrade Corvane.")},  // 836
    {"create_sync_task_desc", QT_TRANSLATE_NOOP("global", "Choose what to sync.")},  // 837
    {"accessible_open_web_portal_corvane", QT_TRANSLATE_NOOP("global", "Open the Corvane web portal")},  // 838
    {"app_name_corvane_client", QT_TRANSLATE_NOOP("global", "Corvane Client")},  // 839
    {"backup_err_version_client_corvane", QT_TRANSLATE_NOOP("global", "Backup stopped: this version of Corvane is too old.")},  // 840
    {"invalid_software_ver_desc_corvane", QT_TRANSLATE_NOOP("global", "The server's software version is not supported by Corvane.")},  // 841
    {"pkg_name_corvane", QT_TRANSLATE_NOOP("global", "Corvane")},  // 842
    {"tutorial_congrats_sub_corvane", QT_TRANSLATE_NOOP("global", "Corvane is ready to sync.")},  // 843
    {"wizard_create_corvane_folder_corvane", QT_TRANSLATE_NOOP("global", "Create a Corvane folder")},  // 844
    {"wizard_create_local_folder_failed", QT_TRANSLATE_NOOP("global", "The local folder could not be created.")},  // 845
    {"wizard_file_streaming_promotion_desc", QT_TRANSLATE_NOOP("global", "Keep files online and download them only when you open them.")},  // 846
    {"backup_err_ssl_change", QT_TRANSLATE_NOOP("global", "Backup stopped: the server's certificate has changed.")},  // 847
    {"open_corvane_web_portal", QT_TRANSLATE_NOOP("global", "Open the Corvane web portal")},  // 848
    {"reserved_849", QT_TRANSLATE_NOOP("global", "Reserved")},  // 849
    {"accessible_tutorial_1_corvane", QT_TRANSLATE_NOOP("global", "Corvane tutorial, step 1")},  // 850
    {"create_task_type", QT_TRANSLATE_NOOP("global", "Task type")},  // 851
    {"perm_delete", QT_TRANSLATE_NOOP("global", "Remove permission")},  // 852
    {"share", QT_TRANSLATE_NOOP("global", "Share")},  // 853
    {"msi_ready_dlg_sync_and_backup_text", QT_TRANSLATE_NOOP("global", "Click Install to install the sync and backup client.")},  // 854
    {"enable_on_demand_sync", QT_TRANSLATE_NOOP("global", "Enable on-demand sync")},  // 855
    {"expired_certificate_err_desc", QT_TRANSLATE_NOOP("global", "The server's certificate has expired.")},  // 856
    {"cloud_filter_sync_root_missing", QT_TRANSLATE_NOOP("global", "The on-demand sync folder is missing.")},  // 857
    {"connection_server", QT_TRANSLATE_NOOP("global", "Server")},  // 858
    {"btn_select", QT_TRANSLATE_NOOP("global", "Select")},  // 859
    {"on_demand_sync", QT_TRANSLATE_NOOP("global", "On-demand sync")},  // 860
    {"wizard_file_streaming_promotion_title", QT_TRANSLATE_NOOP("global", "Save Disk Space")},  // 861
    {"comment", QT_TRANSLATE_NOOP("global", "Comment")},  // 862
    {"date_format_error", QT_TRANSLATE_NOOP("global", "The date format is not valid.")},  // 863
    {"invalid_time", QT_TRANSLATE_NOOP("global", "The time is not valid.")},  // 864
    {"no_valid_folder", QT_TRANSLATE_NOOP("global", "No valid folder.")},  // 865
    {"setting_filter_table_editor_tooltip", QT_TRANSLATE_NOOP("global", "Double-click to edit the rule.")},  // 866
    {"role_permission_title", QT_TRANSLATE_NOOP("global", "Roles and permissions")},  // 867
    {"edit", QT_TRANSLATE_NOOP("global", "Edit")},  // 868
    {"tray_dehydrate", QT_TRANSLATE_NOOP("global", "Space freed")},  // 869
    {"tray_populated", QT_TRANSLATE_NOOP("global", "Downloaded")},  // 870
    {"wizard_warning_invalid_on_demand_sync_path", QT_TRANSLATE_NOOP("global", "On-demand sync cannot be used in this folder.")},  // 871
    {"enable_on_demand_sync_elaborate", QT_TRANSLATE_NOOP("global", "Files stay online until you open them, which saves disk space.")},  // 872
    {"wizard_diskfull_sync_folder_warning_corvane", QT_TRANSLATE_NOOP("global", "There is not enough free space on the disk for Corvane.")},  // 873
    {"create_sync_task_general_desc", QT_TRANSLATE_NOOP("global", "Sync a folder on the server with a folder on this computer.")},  // 874
    {"shared_with_me_confirm", QT_TRANSLATE_NOOP("global", "Sync the files shared with you?")},  // 875
    {"wizard_shared_with_me_desc", QT_TRANSLATE_NOOP("global", "Files that others share with you appear in this folder.")},  // 876
    {"wizard_file_streaming_promotion_checkbox", QT_TRANSLATE_NOOP("global", "Use on-demand sync")},  // 877
    {"block_point_prefix", QT_TRANSLATE_NOOP("global", "Names beginning with a dot")},  // 878
    {"filter_date_range", QT_TRANSLATE_NOOP("global", "Date range")},  // 879
    {"backup_err_user_privilege", QT_TRANSLATE_NOOP("global", "Backup not allowed")},  // 880
    {"create_sync_task_shared_with_me_desc", QT_TRANSLATE_NOOP("global", "Sync the files that others share with you.")},  // 881
    {"wizard_shared_with_me_subtitle", QT_TRANSLATE_NOOP("global", "Stay up to date with files shared with you.")},  // 882
    {"on_demand_sync_promotion_tray_desc", QT_TRANSLATE_NOOP("global", "Save disk space with on-demand sync.")},  // 883
    {"backup_err_user_privilege_desc", QT_TRANSLATE_NOOP("global", "You are not allowed to back up to this server.")},  // 884
    {"err_version_server_corvane", QT_TRANSLATE_NOOP("global", "The server version is too old for Corvane.")},  // 885
    {"err_user_privilege", QT_TRANSLATE_NOOP("global", "You do not have the required privilege.")},  // 886
    {"wizard_conflict_backup_destination", QT_TRANSLATE_NOOP("global", "The destination is already used by another backup task.")},  // 887
    {"err_proto_corvane_diffname", QT_TRANSLATE_NOOP("global", "The server does not support this version of %1.")},  // 888
    {"manage_proxy_label_username", QT_TRANSLATE_NOOP("global", "User name:")},  // 889
    {"perm_limit_only_you_desc", QT_TRANSLATE_NOOP("global", "Only you can open the link.")},  // 890
    {"btn_ssl_continue", QT_TRANSLATE_NOOP("global", "Continue anyway")},  // 891
    {"tutorial_first_desc", QT_TRANSLATE_NOOP("global", "Your sync folder is ready.")},  // 892
    {"tutorial_fourth_desc", QT_TRANSLATE_NOOP("global", "Check the status of your files from the menu bar.")},  // 893
    {"tutorial_start_tour", QT_TRANSLATE_NOOP("global", "Start the tour")},  // 894
    {"history_placeholder_dehydrate", QT_TRANSLATE_NOOP("global", "Online only")},  // 895
    {"history_placeholder_available", QT_TRANSLATE_NOOP("global", "Available on this device")},  // 896
    {"wizard_welcome_footer_info_corvane", QT_TRANSLATE_NOOP("global", "Need help with Corvane? Visit our support site.")},  // 897
    {"err_user_name_empty", QT_TRANSLATE_NOOP("global", "Please enter a user name.")},  // 898
    {"manage_option_synchronization_mode", QT_TRANSLATE_NOOP("global", "Synchronization mode")},  // 899
    {"setting_filter_ignore_local_delete", QT_TRANSLATE_NOOP("global", "Keep files on the server when they are deleted locally")},  // 900
    {"confirm_all_files_being_download", QT_TRANSLATE_NOOP("global", "All files will be downloaded to this computer. Continue?")},  // 901
    {"tutorial_first_title", QT_TRANSLATE_NOOP("global", "Welcome")},  // 902
    {"tutorial_fourth_title", QT_TRANSLATE_NOOP("global", "Stay informed")},  // 903
    {"tutorial_third_desc_2", QT_TRANSLATE_NOOP("global", "Restore earlier versions of a file at any time.")},  // 904
    {"sync_welcome_desc", QT_TRANSLATE_NOOP("global", "Keep your files in sync across devices.")},  // 905
    {"reserved_906", QT_TRANSLATE_NOOP("global", "Reserved")},  // 906
    {"err_proto_align_corvane", QT_TRANSLATE_NOOP("global", "Please update the server and Corvane to compatible versions.")},  // 907
    {"main_desc_processing_count", QT_TRANSLATE_NOOP("global", "Processing %1 items")},  // 908
    {"main_desc_processing_count_s", QT_TRANSLATE_NOOP("global", "Processing %1 item")},  // 909
    {"main_desc_processing_count_p", QT_TRANSLATE_NOOP("global", "Processing %1 items")},  // 910
    {"quota_not_support", QT_TRANSLATE_NOOP("global", "The server does not report quota.")},  // 911
    {"reach_personal_quota_limit", QT_TRANSLATE_NOOP("global", "You have reached your personal quota.")},  // 912
    {"quota_storage_description", QT_TRANSLATE_NOOP("global", "%1 of %2 used")},  // 913
    {"reach_share_quota_limit", QT_TRANSLATE_NOOP("global", "The shared folder has reached its quota.")},  // 914
    {"some_reach_limit", QT_TRANSLATE_NOOP("global", "Some folders have reached their quota.")},  // 915
    {"err_restore_filter_wrong", QT_TRANSLATE_NOOP("global", "The filter could not be restored.")},  // 916
    {"backup_chooser_desc", QT_TRANSLATE_NOOP("global", "Choose the folders to back up.")},  // 917
    {"backup_chooser_choose_source", QT_TRANSLATE_NOOP("global", "Choose source folders")},  // 918
    {"connection_ssl", QT_TRANSLATE_NOOP("global", "Use SSL")},  // 919
    {"main_status_uptodate", QT_TRANSLATE_NOOP("global", "Up to date")},  // 920
    {"wizard_setsyncfolder_title", QT_TRANSLATE_NOOP("global", "Sync Folders")},  // 921
    {"backup_err_user_not_allowed", QT_TRANSLATE_NOOP("global", "Backup not allowed")},  // 922
    {"backup_err_user_not_allowed_desc", QT_TRANSLATE_NOOP("global", "Your account is not allowed to use backups.")},  // 923
    {"err_user_not_allowed", QT_TRANSLATE_NOOP("global", "Your account is not allowed to use this service.")},  // 924
    {"err_user_not_allowed_short", QT_TRANSLATE_NOOP("global", "Not allowed")},  // 925
    {"manage_option_show_filtered_icons", QT_TRANSLATE_NOOP("global", "Show icons on filtered files")},  // 926
    {"public_rw_desc", QT_TRANSLATE_NOOP("global", "Anyone can view and edit.")},  // 927
    {"public_ro_desc", QT_TRANSLATE_NOOP("global", "Anyone can view.")},  // 928
    {"public_commenter_desc", QT_TRANSLATE_NOOP("global", "Anyone can view and comment.")},  // 929
    {"storage_tab", QT_TRANSLATE_NOOP("global", "Storage")},  // 930
    {"accessible_dialogue", QT_TRANSLATE_NOOP("global", "Dialog")},  // 931
    {"connection_unlink_confirm", QT_TRANSLATE_NOOP("global", "Unlink this connection?")},  // 932
    {"connection_unlinking", QT_TRANSLATE_NOOP("global", "Unlinking the connection...")},  // 933
    {"reserved_934", QT_TRANSLATE_NOOP("global", "Reserved")},  // 934
    {"err_abnormal", QT_TRANSLATE_NOOP("global", "An unexpected error occurred.")},  // 935
    {"err_backup_fail", QT_TRANSLATE_NOOP("global", "The backup failed.")},  // 936
    {"err_create_session_fail", QT_TRANSLATE_NOOP("global", "The task could not be created.")},  // 937
    {"err_diskfull", QT_TRANSLATE_NOOP("global", "The disk is full.")},  // 938
    {"err_quotafull", QT_TRANSLATE_NOOP("global", "The quota is full.")},  // 939
    {"err_share_perm", QT_TRANSLATE_NOOP("global", "You do not have permission to access the shared folder.")},  // 940
    {"err_sync_direction_mismatch", QT_TRANSLATE_NOOP("global", "The sync direction does not match.")},  // 941
    {"filter_last_month", QT_TRANSLATE_NOOP("global", "Last month")},  // 942
    {"filter_last_week", QT_TRANSLATE_NOOP("global", "Last week")},  // 943
    {"main_desc_processing_file", QT_TRANSLATE_NOOP("global", "Processing \"%1\"")},  // 944
    {"main_status_syncing", QT_TRANSLATE_NOOP("global", "Syncing")},  // 945
    {"msg_fail_load_session", QT_TRANSLATE_NOOP("global", "The sync tasks could not be loaded.")},  // 946
    {"msg_loading", QT_TRANSLATE_NOOP("global", "Loading...")},  // 947
    {"op_operation", QT_TRANSLATE_NOOP("global", "Operation")},  // 948
    {"msg_no_such_directory", QT_TRANSLATE_NOOP("global", "The folder \"%1\" does not exist.")},  // 949
    {"schedulebkp_auto_shutdown", QT_TRANSLATE_NOOP("global", "Shut down the computer")},  // 950
    {"schedulebkp_auto_shutdown_need_privilege", QT_TRANSLATE_NOOP("global", "Shutting down the computer needs administrator rights.")},  // 951
    {"schedulebkp_backup_cancelled", QT_TRANSLATE_NOOP("global", "Backup cancelled")},  // 952
    {"schedulebkp_backup_done", QT_TRANSLATE_NOOP("global", "Backup done")},  // 953
    {"schedulebkp_backup_times", QT_TRANSLATE_NOOP("global", "Backups per day")},  // 954
    {"schedulebkp_backup_times_unit", QT_TRANSLATE_NOOP("global", "times")},  // 955
    {"schedulebkp_choose_backup_mode_title", QT_TRANSLATE_NOOP("global", "Backup Mode")},  // 956
    {"schedulebkp_confirm_backup_now", QT_TRANSLATE_NOOP("global", "Back up now?")},  // 957
    {"schedulebkp_do_missing_backup_tooltip", QT_TRANSLATE_NOOP("global", "Runs the backup you missed while the computer was off.")},  // 958
    {"schedulebkp_err_empty_weekday", QT_TRANSLATE_NOOP("global", "Please select at least one day.")},  // 959
    {"schedulebkp_everyday", QT_TRANSLATE_NOOP("global", "Every day")},  // 960
    {"schedulebkp_last_backup_time", QT_TRANSLATE_NOOP("global", "Last backup: %1")},  // 961
    {"schedulebkp_manual_backup", QT_TRANSLATE_NOOP("global", "Manual backup")},  // 962
    {"schedulebkp_once_a_day", QT_TRANSLATE_NOOP("global", "Once a day")},  // 963
    {"schedulebkp_realtime_backup", QT_TRANSLATE_NOOP("global", "Real-time backup")},  // 964
    {"schedulebkp_scheduled_backup", QT_TRANSLATE_NOOP("global", "Scheduled backup")},  // 965
    {"schedulebkp_set_backup_plan_title", QT_TRANSLATE_NOOP("global", "Backup Plan")},  // 966
    {"schedulebkp_taking_snapshot", QT_TRANSLATE_NOOP("global", "Taking a snapshot...")},  // 967
    {"schedulebkp_update_backupplaninfo_fail", QT_TRANSLATE_NOOP("global", "The backup plan could not be updated.")},  // 968
    {"setting_filter_size_limit_tooltip", QT_TRANSLATE_NOOP("global", "Files larger than this are not synced.")},  // 969
    {"setting_filter_table_title", QT_TRANSLATE_NOOP("global", "Filter Rules")},  // 970
    {"setting_filter_zero_desc", QT_TRANSLATE_NOOP("global", "0 means no limit.")},  // 971
    {"setting_option_language_default", QT_TRANSLATE_NOOP("global", "System default")},  // 972
    {"setting_tab_connection", QT_TRANSLATE_NOOP("global", "Connection")},  // 973
    {"tooltip_activity", QT_TRANSLATE_NOOP("global", "Activity")},  // 974
    {"timescale_min", QT_TRANSLATE_NOOP("global", "Minute")},  // 975
    {"tooltip_show_removed", QT_TRANSLATE_NOOP("global", "Show removed items")},  // 976
    {"used", QT_TRANSLATE_NOOP("global", "Used")},  // 977
    {"timescale_month", QT_TRANSLATE_NOOP("global", "Month")},  // 978
    {"used_of_quota", QT_TRANSLATE_NOOP("global", "%1 used of %2")},  // 979
    {"background_task", QT_TRANSLATE_NOOP("global", "Background tasks")},  // 980
    {"tray_pause", QT_TRANSLATE_NOOP("global", "Pause syncing")},  // 981
    {"tray_resume", QT_TRANSLATE_NOOP("global", "Resume syncing")},  // 982
    {"accessible_title_filter_setting", QT_TRANSLATE_NOOP("global", "Filter settings")},  // 983
    {"time_format_error", QT_TRANSLATE_NOOP("global", "The time format is not valid.")},  // 984
    {"history_unsynced_system_filter", QT_TRANSLATE_NOOP("global", "Skipped by the system filter")},  // 985
    {"btn_export", QT_TRANSLATE_NOOP("global", "Export")},  // 986
    {"btn_edit_connection", QT_TRANSLATE_NOOP("global", "Edit connection")},  // 987
    {"btn_no_need", QT_TRANSLATE_NOOP("global", "Not now")},  // 988
    {"col_create_time", QT_TRANSLATE_NOOP("global", "Created")},  // 989
    {"main_backup_task", QT_TRANSLATE_NOOP("global", "Backup tasks")},  // 990
    {"main_settings", QT_TRANSLATE_NOOP("global", "Settings")},  // 991
    {"op_version_browse", QT_TRANSLATE_NOOP("global", "Browse versions")},  // 992
    {"main_sync_task", QT_TRANSLATE_NOOP("global", "Sync tasks")},  // 993
    {"schedulebkp_backup_mode", QT_TRANSLATE_NOOP("global", "Backup mode")},  // 994
    {"recently_changed_title", QT_TRANSLATE_NOOP("global", "Recently Changed")},  // 995
    {"schedulebkp_backup_now", QT_TRANSLATE_NOOP("global", "Back up now")},  // 996
    {"selective_sync_file_title", QT_TRANSLATE_NOOP("global", "Select files")},  // 997
    {"selective_sync_mode_title", QT_TRANSLATE_NOOP("global", "Selective sync mode")},  // 998
    {"session_selective_sync_btn", QT_TRANSLATE_NOOP("global", "Selective sync")},  // 999
    {"setting_tab_filter", QT_TRANSLATE_NOOP("global", "Filter")},  // 1000
    {"setting_tab_folder", QT_TRANSLATE_NOOP("global", "Folders")},  // 1001
    {"size_equal", QT_TRANSLATE_NOOP("global", "equal to")},  // 1002
    {"size_less", QT_TRANSLATE_NOOP("global", "less than")},  // 1003
    {"size_greater", QT_TRANSLATE_NOOP("global", "greater than")},  // 1004
    {"tray_uptodate", QT_TRANSLATE_NOOP("global", "Up to date")},  // 1005
    {"treedialog_pc_title", QT_TRANSLATE_NOOP("global", "This Computer")},  // 1006
    {"wizard_conflict_backup_warning_corvane", QT_TRANSLATE_NOOP("global", "Corvane will back up files in the destination before syncing.")},  // 1007
    {"wizard_conflict_backup_warning_corvane_backup", QT_TRANSLATE_NOOP("global", "Corvane will back up files in the destination before the backup.")},  // 1008
    {"title_ip", QT_TRANSLATE_NOOP("global", "IP address")},  // 1009
    {"manage_share_local_syncfolder", QT_TRANSLATE_NOOP("global", "Local sync folder")},  // 1010
    {"open_sync_status", QT_TRANSLATE_NOOP("global", "Open sync status")},  // 1011
    {"notification_page_action_comment_reply", QT_TRANSLATE_NOOP("global", "%1 replied to a comment on %2")},  // 1012
    {"notification_page_comment_reply", QT_TRANSLATE_NOOP("global", "Replies")},  // 1013
    {"history_unsynced", QT_TRANSLATE_NOOP("global", "Not synced")},  // 1014
    {"err_version_server_skyhold_corvane", QT_TRANSLATE_NOOP("global", "The Skyhold server version is too old for Corvane.")},  // 1015
    {"reserved_1016", QT_TRANSLATE_NOOP("global", "Reserved")},  // 1016
    {"btn_close", QT_TRANSLATE_NOOP("global", "Close")},  // 1017
    {"advance_share_title", QT_TRANSLATE_NOOP("global", "Advanced Sharing")},  // 1018
    {"adv_share_error", QT_TRANSLATE_NOOP("global", "The advanced sharing settings could not be saved.")},  // 1019
    {"enable_adv_sharing", QT_TRANSLATE_NOOP("global", "Enable advanced sharing")},  // 1020
    {"enable_protection_sharing", QT_TRANSLATE_NOOP("global", "Enable link protection")},  // 1021
    {"msg_adv_sharing_bubble_suffix", QT_TRANSLATE_NOOP("global", " shared a protected link with you.")},  // 1022
    {"protection_share_title", QT_TRANSLATE_NOOP("global", "Protected Sharing")},  // 1023
    {"protect_link_title", QT_TRANSLATE_NOOP("global", "Protect Link")},  // 1024
    {"remove_link_confirm_desc", QT_TRANSLATE_NOOP("global", "Remove this link? People with it will no longer have access.")},  // 1025
    {"remove_link_confirm_title", QT_TRANSLATE_NOOP("global", "Remove Link")},  // 1026
    {"export_log_desc", QT_TRANSLATE_NOOP("global", "Export the logs to send them to support.")},  // 1027
    {"sync_file_filter_rule_desc", QT_TRANSLATE_NOOP("global", "Files that match these rules are skipped.")},  // 1028
    {"filter_placeholder_text", QT_TRANSLATE_NOOP("global", "Type to filter")},  // 1029
    {"timescale_day", QT_TRANSLATE_NOOP("global", "Day")},  // 1030
    {"remove_link_warn_desc", QT_TRANSLATE_NOOP("global", "This cannot be undone.")},  // 1031
    {"remove_link_title", QT_TRANSLATE_NOOP("global", "Remove Link")},  // 1032
    {"troubleshooting", QT_TRANSLATE_NOOP("global", "Troubleshooting")},  // 1033
    {"adv_log_desc", QT_TRANSLATE_NOOP("global", "Collect detailed logs to help diagnose problems.")},  // 1034
    {"export_log_title", QT_TRANSLATE_NOOP("global", "Export Logs")},  // 1035
    {"export_log_info", QT_TRANSLATE_NOOP("global", "The logs will be saved to:\\t%1")},  // 1036
    {"export_log_content_os_info_desc", QT_TRANSLATE_NOOP("global", "System information")},  // 1037
    {"adv_log_title", QT_TRANSLATE_NOOP("global", "Advanced Logging")},  // 1038
    {"adv_log_info", QT_TRANSLATE_NOOP("global", "Advanced logging may slow the client down.")},  // 1039
    {"privacy_statements", QT_TRANSLATE_NOOP("global", "Privacy Statement")},  // 1040
    {"export_log_content_client_log_desc", QT_TRANSLATE_NOOP("global", "Client logs")},  // 1041
    {"enable_adv_log_desc", QT_TRANSLATE_NOOP("global", "Enable advanced logging")},  // 1042
    {"history_unsynced_common_filter", QT_TRANSLATE_NOOP("global", "Skipped by a filter")},  // 1043
    {"history_unsynced_system_no_perm", QT_TRANSLATE_NOOP("global", "Skipped: no permission")},  // 1044
    {"terms_of_service", QT_TRANSLATE_NOOP("global", "Terms of Service")},  // 1045
    {"reserved_1046", QT_TRANSLATE_NOOP("global", "Reserved")},  // 1046
    {"wizard_conflict_backup_task_warning", QT_TRANSLATE_NOOP("global", "Another backup task already uses this folder.")},  // 1047
    {"err_abnormal_desc", QT_TRANSLATE_NOOP("global", "Please restart the client. If the problem persists, contact support.")},  // 1048
    {"error_zero_version", QT_TRANSLATE_NOOP("global", "The file version is not valid.")},  // 1049
    {"wizard_enable_on_demand_sync_failed", QT_TRANSLATE_NOOP("global", "On-demand sync could not be enabled.")},  // 1050
    {"err_connection_failed_information", QT_TRANSLATE_NOOP("global", "Could not connect to the server. Check the address and your network, then try again.")},  // 1051
};
// clang-format on
static_assert(std::size(kRows) == kRowCount, "the string table has a fixed number of rows");

// Filled by InitStrTable(); null before.
const char* stab[kRowCount];  // English source text of each row (UTF-8), the translation source.
const char* ktab[kRowCount];  // Key of each row, unique without regard to case.

}  // namespace

void InitStrTable() {
  RegisterTranslationsResource();
  for (int i = 0; i < kRowCount; ++i) {
    stab[i] = kRows[i].text;
    ktab[i] = kRows[i].key;
  }
}

QString LoadStr(int index) {
  QString text = QCoreApplication::translate("global", stab[index], nullptr, -1);
  text.replace(QLatin1String("\\n"), QLatin1String("\n"));
  text.replace(QLatin1String("\\t"), QLatin1String("\t"));
  return text;
}

int LookupStrID(QString key) {
  const QByteArray wanted = key.toLocal8Bit();
  for (int i = 0; i < kRowCount; ++i) {
    if (qstricmp(wanted.constData(), ktab[i]) == 0) return i;
  }
  return -1;
}

}  // namespace StrTable
