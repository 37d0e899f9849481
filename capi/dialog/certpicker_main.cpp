// tarvona-certpicker: the certificate selection dialog, run by the control as
// a child process (see picker_protocol.h). The list starts on the first
// certificate; Return or double-click takes the one under the cursor, Escape
// cancels.
#include <gtk/gtk.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "capi/dialog/picker_protocol.h"

namespace {

using tarvona::capi::CertificateSummary;
namespace protocol = tarvona::capi::dialog;

enum Column { kSubject, kIssuer, kExpires, kColumnCount };

void OnRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer dialog) {
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
}

GtkWidget* MakeList(const std::vector<CertificateSummary>& certificates) {
  GtkListStore* store =
      gtk_list_store_new(kColumnCount, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
  for (const CertificateSummary& certificate : certificates) {
    GtkTreeIter row;
    gtk_list_store_append(store, &row);
    gtk_list_store_set(store, &row, kSubject, certificate.subject.c_str(), kIssuer,
                       certificate.issuer.c_str(), kExpires, certificate.expires.c_str(), -1);
  }
  GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  const char* titles[kColumnCount] = {"Issued to", "Issued by", "Expiration date"};
  for (int column = 0; column < kColumnCount; ++column) {
    gtk_tree_view_append_column(
        GTK_TREE_VIEW(list),
        gtk_tree_view_column_new_with_attributes(titles[column], gtk_cell_renderer_text_new(),
                                                 "text", column, nullptr));
  }
  GtkTreePath* first = gtk_tree_path_new_first();
  gtk_tree_view_set_cursor(GTK_TREE_VIEW(list), first, nullptr, FALSE);
  gtk_tree_path_free(first);
  return list;
}

// The position of the selected row, or -1.
int SelectedRow(GtkWidget* list) {
  GtkTreeModel* model = nullptr;
  GtkTreeIter row;
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list));
  if (!gtk_tree_selection_get_selected(selection, &model, &row)) return -1;
  GtkTreePath* path = gtk_tree_model_get_path(model, &row);
  int index = gtk_tree_path_get_indices(path)[0];
  gtk_tree_path_free(path);
  return index;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<CertificateSummary> certificates;
  for (std::string line; std::getline(std::cin, line);) {
    auto summary = protocol::DecodeLine(line);
    if (!summary) return protocol::kExitFailed;
    certificates.push_back(std::move(*summary));
  }
  if (certificates.empty() || !gtk_init_check(&argc, &argv)) return protocol::kExitFailed;

  GtkWidget* dialog =
      gtk_dialog_new_with_buttons("Select a certificate", nullptr, GTK_DIALOG_MODAL, "_Cancel",
                                  GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_default_size(GTK_WINDOW(dialog), 640, 320);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);

  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_container_set_border_width(GTK_CONTAINER(content), 8);
  gtk_box_set_spacing(GTK_BOX(content), 8);
  GtkWidget* prompt = gtk_label_new("Select the certificate you want to use.");
  gtk_label_set_xalign(GTK_LABEL(prompt), 0);
  gtk_box_pack_start(GTK_BOX(content), prompt, FALSE, FALSE, 0);
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  GtkWidget* list = MakeList(certificates);
  gtk_container_add(GTK_CONTAINER(scroller), list);
  gtk_box_pack_start(GTK_BOX(content), scroller, TRUE, TRUE, 0);
  g_signal_connect(list, "row-activated", G_CALLBACK(OnRowActivated), dialog);

  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(list);
  int response = gtk_dialog_run(GTK_DIALOG(dialog));
  int chosen = response == GTK_RESPONSE_OK ? SelectedRow(list) : -1;
  gtk_widget_destroy(dialog);
  if (chosen < 0) return protocol::kExitCancelled;
  std::printf("%d\n", chosen);
  return std::fflush(stdout) == 0 ? protocol::kExitChosen : protocol::kExitFailed;
}
