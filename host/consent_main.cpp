// tarvona-consent ORIGIN: asks the user, in their language, whether a web
// page may use the security tokens and certificates. Prints "once",
// "always" or "deny"; closing the window or Escape is "deny". Run by
// tarvona-host as a child, so no toolkit is loaded into the host itself.
#include <gtk/gtk.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "common/translatable.h"
#include "host/consent_texts.h"
#include "platform/translation.h"

namespace {

enum Response { kDeny = 1, kOnce = 2, kAlways = 3 };

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  using tarvona::platform::Translate;
  namespace words = tarvona::host::consent_texts;
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
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      "Tarvona", nullptr, GTK_DIALOG_MODAL, Translate(words::kDeny).c_str(), kDeny,
      Translate(words::kAllowOnce).c_str(), kOnce, Translate(words::kAlwaysAllow).c_str(), kAlways,
      nullptr);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);

  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_container_set_border_width(GTK_CONTAINER(content), 12);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  GtkWidget* icon = gtk_image_new_from_icon_name("dialog-question", GTK_ICON_SIZE_DIALOG);
  gtk_widget_set_valign(icon, GTK_ALIGN_START);
  gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
  GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  GtkWidget* question = gtk_label_new(nullptr);
  // The origin is text, never markup; nor is the translation.
  const std::string asked = tarvona::FillIn(Translate(words::kQuestion), {origin});
  char* markup = g_markup_printf_escaped("<b>%s</b>", asked.c_str());
  gtk_label_set_markup(GTK_LABEL(question), markup);
  g_free(markup);
  GtkWidget* detail = gtk_label_new(Translate(words::kDetail).c_str());
  for (GtkWidget* label : {question, detail}) {
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 50);
    gtk_box_pack_start(GTK_BOX(texts), label, FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(row), texts, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(content), row, TRUE, TRUE, 0);

  // Deny is what Return does, and it looks the part: consent is never the
  // default.
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), kDeny);
  GtkWidget* deny = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), kDeny);
  gtk_style_context_add_class(gtk_widget_get_style_context(deny), "suggested-action");
  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(deny);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  std::puts(response == kAlways ? "always" : response == kOnce ? "once" : "deny");
  return 0;
}
