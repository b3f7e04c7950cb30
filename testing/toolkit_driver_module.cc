// A toolkit module (GTK_MODULES=/path/libqorv_toolkit_driver.so) that plays
// the user where no input tool reaches the display, as on Wayland: every
// 700 ms it presses the default button of each shown window whose default
// button can be pressed (Next, Finish), and it writes what it saw and did
// to the file QORV_DRIVER_LOG names, one line each (a window as soon as it
// is shown):
//   shown <window title>
//   press <button label>
// The toolkit's functions come from the process that loads the module.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
struct GList {
  void* data;
  GList* next;
  GList* prev;
};
unsigned g_timeout_add(unsigned interval, int (*function)(void*), void* data);
GList* gtk_window_list_toplevels();
void g_list_free(GList* list);
int gtk_widget_get_mapped(void* widget);
int gtk_widget_get_visible(void* widget);
int gtk_widget_is_sensitive(void* widget);
const char* gtk_window_get_title(void* window);
void* gtk_window_get_default_widget(void* window);
int gtk_window_activate_default(void* window);
const char* gtk_button_get_label(void* button);
void gtk_module_init(int* argc, char*** argv);
}

namespace {

std::string seen;  // the titles already written, each followed by '\n'

void Write(const char* what, const char* text) {
  const char* path = std::getenv("QORV_DRIVER_LOG");
  if (path == nullptr) return;
  if (FILE* log = std::fopen(path, "a"); log != nullptr) {
    std::fprintf(log, "%s %s\n", what, text != nullptr ? text : "");
    std::fclose(log);
  }
}

// Every 20 ms: the windows shown since the last look.
int Look(void*) {
  GList* windows = gtk_window_list_toplevels();
  for (GList* it = windows; it != nullptr; it = it->next) {
    if (!gtk_widget_get_mapped(it->data)) continue;
    const char* title = gtk_window_get_title(it->data);
    const std::string line = std::string(title != nullptr ? title : "") + "\n";
    if (seen.find(line) == std::string::npos) {
      seen += line;
      Write("shown", title);
    }
  }
  g_list_free(windows);
  return 1;
}

int Tick(void*) {
  Look(nullptr);
  GList* windows = gtk_window_list_toplevels();
  for (GList* it = windows; it != nullptr; it = it->next) {
    if (!gtk_widget_get_mapped(it->data)) continue;
    void* button = gtk_window_get_default_widget(it->data);
    if (button == nullptr || !gtk_widget_get_visible(button) || !gtk_widget_is_sensitive(button)) {
      continue;
    }
    Write("press", gtk_button_get_label(button));
    gtk_window_activate_default(it->data);
    break;  // the windows may have changed
  }
  g_list_free(windows);
  return 1;
}

}  // namespace

void gtk_module_init(int*, char***) {
  g_timeout_add(20, &Look, nullptr);
  g_timeout_add(700, &Tick, nullptr);
}
