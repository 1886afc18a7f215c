// The Persian status lines of the activity log, one constant per outcome.
// They are UTF-8 and reach the user interface byte for byte: edit them only
// together with the user interface that may compare them.

#ifndef CORE_LOG_LINES_H_
#define CORE_LOG_LINES_H_

namespace core {

// Starting the core.
// Xray is not ready to run (no core in the core folder and none could be
// installed).
inline constexpr char kLogNotReadyToRun[] = "Xray برای اجرا آماده نیست";
// The xray.exe file was not found.
inline constexpr char kLogXrayExeNotFound[] = "فایل xray.exe یافت نشد";
// Running Xray failed (creating the process failed).
inline constexpr char kLogStartFailed[] = "اجرای Xray ناموفق بود";
// Xray stopped immediately after it was run.
inline constexpr char kLogStoppedRightAfterStart[] =
    "Xray بلافاصله پس از اجرا متوقف شد";
// Xray is running on Windows (start succeeded).
inline constexpr char kLogStarted[] = "Xray در ویندوز اجرا شد";

// Stopping the core.
// Xray stopped.
inline constexpr char kLogStopped[] = "Xray متوقف شد";

// Installing the core shipped with the application.
// The default Xray inside the application was not found.
inline constexpr char kLogShippedXrayMissing[] =
    "Xray پیش فرض داخل برنامه یافت نشد";
// Copying the default Xray failed.
inline constexpr char kLogShippedCopyFailed[] = "کپی Xray پیش فرض ناموفق بود";
// The default Xray was installed.
inline constexpr char kLogShippedInstalled[] = "Xray پیش فرض نصب شد";

// Downloading the newest core.
// Downloading the Xray file failed.
inline constexpr char kLogDownloadFailed[] = "دانلود فایل Xray ناموفق بود";
// Extracting the Xray file failed.
inline constexpr char kLogExtractionFailed[] = "استخراج فایل Xray ناموفق بود";
// Xray.exe was not found in the downloaded package.
inline constexpr char kLogDownloadHasNoXrayExe[] =
    "فایل xray.exe در بسته دانلودی یافت نشد";
// Replacing Xray with the downloaded one failed.
inline constexpr char kLogReplaceFailed[] = "جایگزینی Xray دانلودی ناموفق بود";
// Download and installation of Xray completed.
inline constexpr char kLogDownloadInstalled[] = "دانلود و نصب Xray کامل شد";

// Switching the system proxy.
// Setting the system proxy failed.
inline constexpr char kLogProxyKeyFailed[] = "تنظیم پراکسی سیستم ناموفق بود";
// Applying the system proxy failed.
inline constexpr char kLogProxyWriteFailed[] = "اعمال پراکسی سیستم ناموفق بود";
// The system proxy was switched on.
inline constexpr char kLogProxyEnabled[] = "پراکسی سیستم فعال شد";
// The system proxy was switched off.
inline constexpr char kLogProxyDisabled[] = "پراکسی سیستم غیرفعال شد";

}  // namespace core

#endif  // CORE_LOG_LINES_H_
