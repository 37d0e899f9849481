// tarvona-certpicker: the certificate selection dialog and the key store's
// password prompt, run by the control as a child process (see
// picker_protocol.h). Both say who asks and what for, in the user's
// language. The list starts on the first certificate; Return or
// double-click takes the one under the cursor. A certificate out of its
// validity is greyed, the reason beside its date. In the prompt, Return
// unlocks. Escape cancels either.
#include <gtk/gtk.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "capi/dialog/picker_protocol.h"
#include "common/translatable.h"
#include "platform/translation.h"

namespace {

using tarvona::FillIn;
using tarvona::Translatable;
using tarvona::capi::CertificateSummary;
using tarvona::capi::Purpose;
using tarvona::capi::Validity;
using tarvona::platform::Translate;
namespace protocol = tarvona::capi::dialog;

// The shown columns, then whether the row is shown as usable.
enum Column { kSubject, kIssuer, kExpires, kShownColumns, kValid = kShownColumns, kColumnCount };

struct Options {
  Purpose purpose = Purpose::kUse;
  std::string requester;
  bool password = false;
  std::string store;  // the key store to unlock
  int attempt = 1;
};

// nullopt on anything not in the protocol.
std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc) return std::nullopt;
    std::string_view name = argv[i];
    std::string_view value = argv[i + 1];
    if (name == "--for") {
      auto purpose = protocol::PurposeNamed(value);
      if (!purpose) return std::nullopt;
      options.purpose = *purpose;
    } else if (name == "--from") {
      options.requester = value;
    } else if (name == "--password") {
      options.password = true;
      options.store = value;
    } else if (name == "--attempt") {
      options.attempt = std::atoi(argv[i + 1]);
    } else {
      return std::nullopt;
    }
  }
  return options;
}

// "bank.example wants to sign with one of your certificates"
std::string RequestLine(const Options& options) {
  return tarvona::capi::RequestLine(options.purpose, options.requester, &Translate);
}

// An icon and, beside it, the request in bold above `detail`.
GtkWidget* MakeHeading(const char* icon, const Options& options, const std::string& detail) {
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  GtkWidget* image = gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG);
  gtk_widget_set_valign(image, GTK_ALIGN_START);
  gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
  GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  GtkWidget* request = gtk_label_new(nullptr);
  // The origin is text, never markup.
  char* markup = g_markup_printf_escaped("<b>%s.</b>", RequestLine(options).c_str());
  gtk_label_set_markup(GTK_LABEL(request), markup);
  g_free(markup);
  GtkWidget* more = gtk_label_new(detail.c_str());
  for (GtkWidget* label : {request, more}) {
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_box_pack_start(GTK_BOX(texts), label, FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(row), texts, TRUE, TRUE, 0);
  return row;
}

GtkWidget* MakeDialog(const std::string& title, const char* accept) {
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      title.c_str(), nullptr, GTK_DIALOG_MODAL, Translate("_Cancel").c_str(), GTK_RESPONSE_CANCEL,
      Translate(accept).c_str(), GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  GtkWidget* accept_button =
      gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_style_context_add_class(gtk_widget_get_style_context(accept_button), "suggested-action");
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_container_set_border_width(GTK_CONTAINER(content), 12);
  gtk_box_set_spacing(GTK_BOX(content), 12);
  return dialog;
}

void OnRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer dialog) {
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
}

// The expiry column's text: the date, and why a certificate out of its
// validity cannot serve now.
std::string ExpiryText(const CertificateSummary& certificate) {
  switch (certificate.validity) {
    case Validity::kExpired:
      return certificate.expires + " (" + Translate("expired") + ")";
    case Validity::kNotYetValid:
      return certificate.expires + " (" +
             FillIn(Translate("not valid before %s"), {certificate.valid_from}) + ")";
    case Validity::kValid:
      break;
  }
  return certificate.expires;
}

GtkWidget* MakeList(const std::vector<CertificateSummary>& certificates) {
  GtkListStore* store =
      gtk_list_store_new(kColumnCount, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_BOOLEAN);
  for (const CertificateSummary& certificate : certificates) {
    GtkTreeIter row;
    gtk_list_store_append(store, &row);
    gtk_list_store_set(store, &row, kSubject, certificate.subject.c_str(), kIssuer,
                       certificate.issuer.c_str(), kExpires, ExpiryText(certificate).c_str(),
                       kValid, certificate.validity == Validity::kValid, -1);
  }
  GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  const char* titles[kShownColumns] = {Translatable("Issued to"), Translatable("Issued by"),
                                       Translatable("Expiration date")};
  for (int column = 0; column < kShownColumns; ++column) {
    // An insensitive cell is drawn greyed; its row can still be chosen.
    gtk_tree_view_append_column(GTK_TREE_VIEW(list),
                                gtk_tree_view_column_new_with_attributes(
                                    Translate(titles[column]).c_str(), gtk_cell_renderer_text_new(),
                                    "text", column, "sensitive", kValid, nullptr));
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

int Answer(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? protocol::kExitChosen : protocol::kExitFailed;
}

int ChooseCertificate(const Options& options) {
  std::vector<CertificateSummary> certificates;
  for (std::string line; std::getline(std::cin, line);) {
    auto summary = protocol::DecodeLine(line);
    if (!summary) return protocol::kExitFailed;
    certificates.push_back(std::move(*summary));
  }
  if (certificates.empty() || !gtk_init_check(nullptr, nullptr)) return protocol::kExitFailed;

  // The title says it too, for window lists and for those who read titles.
  GtkWidget* dialog = MakeDialog(RequestLine(options), Translatable("_OK"));
  gtk_window_set_default_size(GTK_WINDOW(dialog), 640, 360);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_box_pack_start(GTK_BOX(content),
                     MakeHeading("dialog-password", options,
                                 options.purpose == Purpose::kUse
                                     ? Translate("Select the certificate to use.")
                                     : Translate("Select the certificate to use. Only "
                                                 "certificates whose private key you hold are "
                                                 "listed.")),
                     FALSE, FALSE, 0);
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
  return Answer(std::to_string(chosen) + "\n");
}

int AskPassword(const Options& options) {
  if (!gtk_init_check(nullptr, nullptr)) return protocol::kExitFailed;
  GtkWidget* dialog =
      MakeDialog(FillIn(Translate("Password for %s"), {options.store}), Translatable("_Unlock"));
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  GtkWidget* content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  const std::string detail = FillIn(
      options.attempt > 1
          ? Translate("The password was wrong. Enter the password of your certificate store “%s”.")
          : Translate("Enter the password of your certificate store “%s”."),
      {options.store});
  gtk_box_pack_start(GTK_BOX(content), MakeHeading("dialog-password", options, detail), FALSE,
                     FALSE, 0);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_visibility(GTK_ENTRY(entry), FALSE);
  gtk_entry_set_input_purpose(GTK_ENTRY(entry), GTK_INPUT_PURPOSE_PASSWORD);
  // Characters of up to four bytes: the answer stays within the limit.
  gtk_entry_set_max_length(GTK_ENTRY(entry), protocol::kPasswordLimit / 4);
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_box_pack_start(GTK_BOX(content), entry, FALSE, FALSE, 0);

  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(entry);
  int response = gtk_dialog_run(GTK_DIALOG(dialog));
  int status = protocol::kExitCancelled;
  if (response == GTK_RESPONSE_OK) status = Answer(gtk_entry_get_text(GTK_ENTRY(entry)));
  gtk_widget_destroy(dialog);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  auto options = ParseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: %s [--for sign|decrypt|use] [--from ORIGIN] "
                 "[--password STORE --attempt N]\n",
                 argv[0]);
    return protocol::kExitFailed;
  }
  return options->password ? AskPassword(*options) : ChooseCertificate(*options);
}
