// reeldeck: the launcher's dialog on wxWidgets. The only file that knows the
// toolkit; everything the dialog does is decided in deck.cpp.
#include "deck.h"
#include "platform/process.h"
#include "reel_icon.h"

#include <wx/aboutdlg.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/evtloopsrc.h>
#include <wx/filedlg.h>
#include <wx/generic/aboutdlgg.h>
#include <wx/iconbndl.h>
#include <wx/image.h>
#include <wx/listbox.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/progdlg.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include <algorithm>
#include <map>
#include <thread>

#include <cstdio>
#include <cstring>

namespace {

// The template's id 1 is the dialog's OK; the toolkit spells that wxID_OK.
int toolkit_id(int id) {
    if (id == id_exit) return wxID_OK;
    return id == id_none ? wxID_ANY : id;
}

// Texts are UTF-8 as a rule; a file name in another encoding still shows.
wxString to_wx(const char* text) {
    wxString s = wxString::FromUTF8(text);
    return s.empty() && *text ? wxString(text, wxConvISO8859_1) : s;
}

wxIcon reel_icon(int size) {
    std::vector<uint8_t> rgba = draw_reel_icon(size);
    wxImage image(size, size);
    image.InitAlpha();
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const uint8_t* p = &rgba[(size_t(y) * size + x) * 4];
            image.SetRGB(x, y, p[0], p[1], p[2]);
            image.SetAlpha(x, y, p[3]);
        }
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(image));
    return icon;
}

class deck_dialog;

// Wakes the dialog when a player writes on its standard error or ends.
struct player_watch : wxEventLoopSourceHandler {
    deck_dialog* dialog = nullptr;
    void OnReadWaiting() override;
    void OnWriteWaiting() override {}
    void OnExceptionWaiting() override { OnReadWaiting(); }
};

class deck_dialog : public wxDialog {
  public:
    deck_dialog() {
        // Nothing is shown before the controls and the font are in place,
        // since dialog units follow the font.
        Create(nullptr, wxID_ANY, wxString::FromUTF8(deck_caption), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
        SetClientSize(ConvertDialogToPixels(wxSize(deck_width, deck_height)));
        for (const deck_control& c : deck_controls) add_control(c);
        Centre();

        wxIconBundle icons;
        icons.AddIcon(reel_icon(32));
        icons.AddIcon(reel_icon(16));
        icons.AddIcon(reel_icon(48));
        SetIcons(icons);

        ui = {add_line,    delete_line, selected_line, select_line, message,
              choose_file, start,       show_about,    this};
        ui.choose_save_file = choose_save_file;
        ui.run_export = run_export;
        watch.dialog = this;
        Bind(wxEVT_BUTTON, &deck_dialog::on_button, this);
        Bind(wxEVT_CHAR_HOOK, &deck_dialog::on_key, this);
        deck_start(ui, find_player_path(current_directory(), own_directory(), is_program));
    }

    ~deck_dialog() override {
        for (auto& [fd, source] : sources) delete source;
    }

    deck_ui ui;

    // Reaps the players that ended, then reports the failed ones. The
    // watched descriptors are brought up to date first, before a message
    // box runs an event loop of its own.
    void players_changed() {
        std::vector<player_end> ends = collect_players();
        watch_players();
        for (const player_end& end : ends) deck_player_ended(ui, end);
    }

  private:
    player_watch watch;
    std::map<int, wxEventLoopSource*> sources;

    void watch_players() {
        std::vector<int> fds = player_watch_fds();
        for (auto it = sources.begin(); it != sources.end();) {
            if (std::find(fds.begin(), fds.end(), it->first) == fds.end()) {
                delete it->second;
                it = sources.erase(it);
            } else {
                ++it;
            }
        }
        for (int fd : fds)
            if (!sources.count(fd))
                sources[fd] = wxEventLoopBase::AddSourceForFD(
                    fd, &watch, wxEVENT_SOURCE_INPUT | wxEVENT_SOURCE_EXCEPTION);
    }

    void add_control(const deck_control& c) {
        wxPoint at = ConvertDialogToPixels(wxPoint(c.x, c.y));
        wxSize size = ConvertDialogToPixels(wxSize(c.width, c.height));
        wxString text = wxString::FromUTF8(c.text);
        int id = toolkit_id(c.id);
        switch (c.kind) {
        case control_default_button: {
            auto* b = new wxButton(this, id, text, at, size);
            b->SetDefault();
            b->SetFocus();
            break;
        }
        case control_push_button:
            new wxButton(this, id, text, at, size);
            break;
        case control_list_box: {
            // A scroll bar cannot be drawn in GTK's smallest list heights (the
            // zoom list holds its two lines without one).
            long bar = c.height < 32 ? wxLB_NO_SB : wxLB_NEEDED_SB;
            new wxListBox(this, id, at, size, 0, nullptr, wxLB_SINGLE | bar);
            break;
        }
        case control_static_text:
            new wxStaticText(this, id, text, at, size);
            break;
        case control_group_box:
            new wxStaticBox(this, id, text, at, size);
            break;
        }
    }

    static deck_dialog& of(void* context) { return *static_cast<deck_dialog*>(context); }
    static wxListBox* list(void* context, int id) {
        return static_cast<wxListBox*>(of(context).FindWindow(id));
    }

    static void add_line(void* context, int id, const char* text) {
        list(context, id)->Append(to_wx(text));
    }
    static bool delete_line(void* context, int id, int line) {
        wxListBox* l = list(context, id);
        if (line < 0 || unsigned(line) >= l->GetCount()) return false;
        l->Delete(unsigned(line));
        return true;
    }
    static int selected_line(void* context, int id) { return list(context, id)->GetSelection(); }
    static void select_line(void* context, int id, int line) {
        list(context, id)->SetSelection(line);
    }
    static void message(void* context, const char* text, const char* caption, deck_icon icon) {
        long style = wxOK | (icon == icon_error     ? wxICON_ERROR
                             : icon == icon_warning ? wxICON_WARNING
                                                    : wxICON_INFORMATION);
        wxMessageBox(to_wx(text), to_wx(caption), style, &of(context));
    }
    static wxString wildcard_of(const std::vector<deck_file_filter>& filters) {
        wxString wildcard;
        for (const deck_file_filter& f : filters) {
            if (!wildcard.empty()) wildcard += "|";
            wildcard += wxString::FromUTF8(f.label) + "|" + wxString::FromUTF8(f.pattern);
        }
        return wildcard;
    }
    static bool choose_file(void* context, const deck_open_request& request, std::string* path) {
        wxFileDialog dialog(&of(context), wxString::FromUTF8(request.title), wxEmptyString,
                            wxEmptyString, wildcard_of(request.filters), wxFD_OPEN);
        if (dialog.ShowModal() != wxID_OK) return false;
        *path = std::string(dialog.GetPath().fn_str());
        return true;
    }
    static bool choose_save_file(void* context, const deck_save_request& request, std::string* path,
                                 int* filter) {
        wxFileDialog dialog(&of(context), wxString::FromUTF8(request.title),
                            wxString::FromUTF8(request.folder), wxString::FromUTF8(request.name),
                            wildcard_of(request.filters), wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
        if (dialog.ShowModal() != wxID_OK) return false;
        *path = std::string(dialog.GetPath().fn_str());
        *filter = dialog.GetFilterIndex();
        return true;
    }
    // The export runs on a thread of its own; this loop keeps the dialogs
    // drawn and answering (Update dispatches their events) until it ends.
    static void run_export(void* context, deck_export* job) {
        constexpr int steps = 1000;
        wxProgressDialog progress(
            "Ripping",
            "Saving " + wxString::FromUTF8(job->title) + " as\n" + to_wx(job->out_path.c_str()),
            steps, &of(context), wxPD_APP_MODAL | wxPD_CAN_ABORT | wxPD_ELAPSED_TIME);
        std::thread worker(deck_run_export, job);
        while (!job->finished) {
            int done = std::min(steps - 1, int(job->fraction * steps));
            if (!job->cancel && !progress.Update(done)) job->cancel = true;
            wxMilliSleep(40);
        }
        worker.join();
    }
    static bool start(void* context, const std::string& program,
                      const std::vector<std::string>& args, const std::string& movie) {
        bool started = start_program(program, args, movie);
        of(context).watch_players();
        return started;
    }

    // The licence line stands in the box itself, where the toolkit puts the
    // copyright line, rather than behind a button of its own. The box is
    // wxAboutBox's own generic one, shown modally: the native box that
    // wxAboutBox opens on GTK is modeless, and under this modal dialog's
    // grab it would take neither its button nor Escape (Escape would close
    // the launcher instead).
    static void show_about(void* context, const deck_about& about) {
        wxAboutDialogInfo info;
        info.SetName(wxString::FromUTF8(about.name));
        info.SetVersion(wxString::FromUTF8(about.version));
        info.SetDescription(wxString::FromUTF8(about.description));
        info.SetCopyright(wxString::FromUTF8(about.licence));
        info.SetIcon(reel_icon(64));
        wxGenericAboutDialog box(info, &of(context));
        box.ShowModal();
    }

    void on_button(wxCommandEvent& event) {
        int id = event.GetId();
        if (id == wxID_OK) {
            event.Skip(); // the dialog closes itself
            return;
        }
        deck_command(ui, id);
    }

    // Enter closes the dialog wherever the focus is, as on a default button,
    // except that a focused push button takes it for itself.
    void on_key(wxKeyEvent& event) {
        int key = event.GetKeyCode();
        bool enter = key == WXK_RETURN || key == WXK_NUMPAD_ENTER;
        if (enter && !wxDynamicCast(FindFocus(), wxButton)) {
            EndModal(wxID_OK);
            return;
        }
        event.Skip();
    }
};

void player_watch::OnReadWaiting() {
    dialog->players_changed();
}

} // namespace

class deck_app : public wxApp {
  public:
    // The toolkit's own option parser would refuse the file argument.
    bool OnInit() override {
        wxLog::EnableLogging(true);
        return true;
    }

    int OnRun() override {
        deck_dialog dialog;
        if (argc > 1) {
            std::string file(argv[1].fn_str());
            // Shown first, so that messages of the open have their parent.
            dialog.CallAfter([&dialog, file] { deck_open_path(dialog.ui, file); });
        }
        dialog.ShowModal();
        return 0;
    }
};

// --help and --version are answered before the toolkit starts, so that they
// work without a display.
int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "--help") == 0) {
        fputs("usage: reeldeck [FILE]\n"
              "Lists the movies of a game archive (*.tre) or a single movie file and plays\n"
              "the chosen one with reelplay. FILE is opened at start.\n"
              "  --help      show this text\n"
              "  --version   show the version\n",
              stdout);
        return 0;
    }
    if (argc >= 2 && strcmp(argv[1], "--version") == 0) {
        puts("reeldeck " REEL_VERSION);
        return 0;
    }
    wxApp::SetInstance(new deck_app);
    // Without a display the toolkit's start fails; its own report of that
    // would need the display it lacks. It is kept quiet until the start has
    // gone well, and this line says it instead.
    wxLog::EnableLogging(false);
    if (wxEntry(argc, argv) == -1) {
        fputs("reeldeck: cannot open the display\n", stderr);
        return 1;
    }
    return 0;
}
