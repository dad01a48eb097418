// What both programs share on top of Qt: message boxes owned by the dialog (shown on the UI thread,
// also when asked from a worker, and interceptable by tests), the wait cursor, dialog units,
// running code on the UI thread, cancellable worker threads owned by the dialog and the closing
// mark, file drops onto child controls, the application icon, the trace sink, and the simulated
// device started by --simulator.
#pragma once

#include <QByteArray>
#include <QFont>
#include <QIcon>
#include <QMessageBox>
#include <QRect>
#include <QString>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "serial/cancel.h"

class QDialog;
class QKeyEvent;

namespace vantor::ui {

// --- Message boxes ---------------------------------------------------------------------------

enum class MessageIcon { kNone, kInformation };

struct MessageRequest {
  QWidget* owner = nullptr;
  QString caption;  // the application's name, or empty for none
  QString text;
  MessageIcon icon = MessageIcon::kNone;
};

// Shows a modal OK box owned by `owner` and returns when it is closed. From a worker thread it is
// shown on the UI thread and the worker waits for it. Once `owner` (or a window above it) has
// started closing, nothing is shown and it returns at once.
void ShowMessage(const MessageRequest& request);

// The box ShowMessage shows: at least as wide as its caption needs in a title bar, so that the
// window manager never cuts the caption.
std::unique_ptr<QMessageBox> CreateMessageBox(const MessageRequest& request);
int MessageBoxMinimumWidth(const QString& caption);

// Tests: every box goes to `hook` instead of the screen (called on the UI thread). Empty restores.
using MessageHook = std::function<void(const MessageRequest&)>;
void SetMessageHook(MessageHook hook);

// --- Threads ---------------------------------------------------------------------------------

// Runs `fn` on `context`'s thread (the UI thread) and waits for it; runs it at once when already
// there.
void RunOnUiThread(QObject* context, const std::function<void()>& fn);

// A worker thread owned by its dialog: one at a time, joined when the next starts or when the
// owner is destroyed. `onFinished` runs on the UI thread after `work` returns.
//
// The worker carries the cancel token of its work: every port the work uses points at it
// (`port->cancel = worker.cancelToken()`), so that Abandon, when the owner closes, ends each of
// the port's waits at once with kErrorCancelled. An abandoned worker runs no finish and starts
// nothing more; destroying a worker abandons it.
class Worker {
 public:
  Worker() = default;
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  void Start(QObject* context, std::function<void()> work, std::function<void()> onFinished = {});
  bool running() const;
  const CancelToken* cancelToken() const { return &m_cancel; }
  bool cancelled() const { return m_cancel.cancelled(); }
  // Cancels the running work and drops its finish. Idempotent, UI thread.
  void Abandon();
  // Waits for the thread while keeping the UI thread's events going (tests, closing). Safe when
  // re-entered from those events (a second Escape while a close waits).
  void WaitWhileProcessingEvents();

 private:
  CancelToken m_cancel;
  std::thread m_thread;
  std::shared_ptr<std::atomic<bool>> m_running;
  // Set when the owner goes away: a finish still queued then no longer runs `onFinished`.
  std::shared_ptr<std::atomic<bool>> m_abandoned;
};

// --- Closing -------------------------------------------------------------------------------

// Marks `window` as closing: message boxes it owns are no longer shown. Returns false when it was
// marked already (a close is under way or done), so a second close does nothing.
bool BeginClosing(QWidget* window);
// True once `widget` or a window above it has begun closing.
bool IsClosing(const QWidget* widget);

// --- Enter key -----------------------------------------------------------------------------

// Enter or Return (the main keyboard's or the keypad's).
bool IsEnterKey(const QKeyEvent* event);
// A dialog's own handling of Enter: it presses the push button that has the focus (nothing when
// that button is disabled) and ends the dialog (accept) when no push button has it. True when
// `event` was Enter and so handled.
bool HandleEnterKey(QDialog* dialog, QKeyEvent* event);

// --- Cursor ----------------------------------------------------------------------------------

// The framework's wait cursor for a short operation of the UI thread, from construction to
// destruction.
class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// --- Layout ----------------------------------------------------------------------------------

// The dialog font ("MS Shell Dlg" 9 pt where installed, else the system's UI font at 9 pt).
QFont DialogFont();

// Converts a template rectangle in dialog units to pixels with `font`'s base units, as Windows
// maps dialog units (x and width by the average character width / 4, y and height by the
// character height / 8).
QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height);
void PlaceControl(QWidget* control, const QFont& font, int x, int y, int width, int height);

// --- Icon ------------------------------------------------------------------------------------

// The program's icon (its SVG, a Qt resource path such as ":/icons/quorix.svg") rendered at the
// sizes title bars, task bars and about boxes use, 16 to 256 pixels. Windows builds carry no SVG
// renderer: there the PNGs rendered from the SVG at build time beside it are used
// (":/icons/quorix-16.png" ... "-256.png").
QIcon ApplicationIcon(const QString& svgResource);

// --- System menu ---------------------------------------------------------------------------

// Windows: appends a separator and the item `text` with the system command `command` to
// `window`'s system menu; the command then arrives as WM_SYSCOMMAND in the window's native
// events (SystemCommand). Elsewhere there is no such menu to extend and nothing happens; the
// result tells whether the item was added.
bool AppendSystemMenuItem(QWidget* window, unsigned command, const QString& text);
// The command of a native event that is a system command (from QWidget::nativeEvent), else
// nullopt.
std::optional<unsigned> SystemCommand(const QByteArray& eventType, void* message);
// True where the windows have a system menu (Windows), so the about item belongs there and not
// on a context menu.
bool HasSystemMenu();

// --- Drops -----------------------------------------------------------------------------------

// The child of `dialog` under `point` (dialog coordinates), disabled children included; the
// nearest ancestor that is a direct control of the dialog is returned, or null.
QWidget* ChildAtDropPoint(QWidget* dialog, const QPoint& point);

// --- Trace, text -----------------------------------------------------------------------------

// Routes the core's DebugOutput into the Qt logging category "vantor.trace" (silent unless
// enabled with QT_LOGGING_RULES="vantor.trace.debug=true").
void InstallTraceSink();

// Text from the line (8-bit, the system's code page) to a QString and back.
QString FromLineText(const std::string& bytes);
std::string ToLineText(const QString& text);

// --- Simulated device ------------------------------------------------------------------------

// Starts the simulated device behind a pseudo-terminal and registers its path as a port, for the
// programs' --simulator start. `firmwareState` selects the firmware state; pacing at 115200
// bit/s. Returns null (with a message on stderr) where no pseudo-terminal can be had.
class SimulatorHandle {
 public:
  virtual ~SimulatorHandle() = default;
  virtual std::string portName() const = 0;
};
std::unique_ptr<SimulatorHandle> StartSimulator(bool firmwareState);

// Test-only: scales the programs' fixed waits (3000 ms, 7000 ms ...); 1.0 for users.
void SetWaitScaleForTests(double scale);
std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait);

}  // namespace vantor::ui
