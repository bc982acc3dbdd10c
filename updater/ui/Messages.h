// Messages.h: message boxes, and what happens to an error that leaves an event handler.
//
// The windows catch nothing themselves: an error raised in a handler ends that handler,
// and its message is shown in a message box with the application's title, as the
// toolkit's default error handling does.
#pragma once

#include <functional>
#include <string>

namespace velmoran {

// The application's title: the taskbar's text and every message box's caption.
inline constexpr const char* kApplicationTitle = "Duskmere Updater";

// Shows text in a modal message box and returns once the player has closed it.
void ShowMessageBox(const std::string& text);
// The same with the error sign: how an error that left a handler is shown.
void ShowErrorBox(const std::string& text);

// Lets something else take the message boxes (the tests record the texts); an empty
// function brings the real boxes back.
void SetMessageBoxHandler(std::function<void(const std::string&)> handler);

// Runs an event handler; an error it raises is shown with ShowErrorBox.
void RunHandler(const std::function<void()>& handler);

} // namespace velmoran
