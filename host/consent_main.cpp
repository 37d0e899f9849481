// tarvona-consent ORIGIN: asks the user whether a web page may use the
// security tokens and certificates. Prints "once", "always" or "deny";
// closing the window or Escape is "deny". Run by tarvona-host as a child,
// so no toolkit is loaded into the host itself.
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

namespace {

enum Response { kDeny = 1, kOnce = 2, kAlways = 3 };

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s ORIGIN\n", argv[0]);
    return 2;
  }
  const std::string origin = argv[1];
  int gtk_argc = 1;
  if (!gtk_init_check(&gtk_argc, &argv)) {
    std::puts("deny");
    return 1;
  }
  GtkWidget* dialog = gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
      "Allow %s to use your security tokens and certificates?", origin.c_str());
  gtk_message_dialog_format_secondary_text(
      GTK_MESSAGE_DIALOG(dialog),
      "The page will be able to list your certificates, ask for your PIN and sign with your keys.");
  gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Deny", kDeny, "Allow _once", kOnce,
                         "_Always allow", kAlways, nullptr);
  // Deny is what Return does: consent is never the default.
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), kDeny);
  gtk_window_set_title(GTK_WINDOW(dialog), "Tarvona");
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  std::puts(response == kAlways ? "always" : response == kOnce ? "once" : "deny");
  return 0;
}
