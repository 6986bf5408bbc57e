// The desktop back end of the dialog layer: one GTK 3 window per dialog,
// every control a widget placed at its template rectangle.
//
// Dialog units become pixels the way Windows converts them: through the
// dialog font's base units, the average width of the letters A-Z and a-z
// (rounded as (width / 26 + 1) / 2) and the height of its characters, with
// x * baseX / 4 and y * baseY / 8. The font is the template's face matched
// through fontconfig to an installed face that has Japanese glyphs (a face
// such as "ＭＳ Ｐゴシック" is not found on Linux; fonts-noto-cjk supplies
// one), at the template's point size. Where a caption in that face does not
// fit its control, the units are stretched until every caption does
// (platform/DialogLayout.h).
// The Win32 names first: glib defines TRUE and FALSE as macros.
#include "platform/DialogLayout.h"
#include "platform/DialogModel.h"

#include <fontconfig/fontconfig.h>
#include <gtk/gtk.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::dialog {
namespace {

std::function<void(const ShownDialog&)>& Inspector() {
    static std::function<void(const ShownDialog&)> inspect;
    return inspect;
}

bool GtkReady() {
    static const bool ready = gtk_init_check(nullptr, nullptr) != FALSE;
    return ready;
}

// A face for the dialog font: the template's face when installed, else the
// best match for Japanese text. Empty when fontconfig offers nothing.
std::string MatchDialogFace(const std::string& face) {
    if (!FcInit()) return {};
    auto covers = [](FcPattern* font) {
        FcCharSet* chars = nullptr;
        return FcPatternGetCharSet(font, FC_CHARSET, 0, &chars) == FcResultMatch && chars &&
               FcCharSetHasChar(chars, 0x3042) && FcCharSetHasChar(chars, 0x30A2) && FcCharSetHasChar(chars, 0x52D5);
    };
    auto familyOf = [](FcPattern* font) {
        FcChar8* family = nullptr;
        return FcPatternGetString(font, FC_FAMILY, 0, &family) == FcResultMatch && family
                   ? std::string(reinterpret_cast<const char*>(family))
                   : std::string();
    };
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return {};
    if (!face.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(face.c_str()));
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
    FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    std::string chosen;
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
        if (covers(match)) chosen = familyOf(match);
        FcPatternDestroy(match);
    }
    if (chosen.empty()) {
        // The best match lacks the glyphs: take the first face in fontconfig's
        // order that has them.
        if (FcFontSet* sorted = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result)) {
            for (int i = 0; i < sorted->nfont && chosen.empty(); ++i) {
                if (covers(sorted->fonts[i])) chosen = familyOf(sorted->fonts[i]);
            }
            FcFontSetDestroy(sorted);
        }
    }
    FcPatternDestroy(pattern);
    return chosen;
}

// A Win32 caption ("&" marks the mnemonic, "&&" is an ampersand) as a GTK
// mnemonic label ("_" marks it, "__" is an underscore).
std::string MnemonicText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out += "__";
        } else if (c == '&' && i + 1 < text.size() && text[i + 1] == '&') {
            out += '&';
            ++i;
        } else if (c == '&') {
            out += '_';
        } else {
            out += c;
        }
    }
    return out;
}

std::string CssString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

class GtkDialogView final : public DialogView {
public:
    explicit GtkDialogView(DialogWindow& dialog) : m_dialog(dialog) { Build(); }

    ~GtkDialogView() override {
        if (m_inspection) g_source_remove(m_inspection);
        if (m_window) gtk_widget_destroy(m_window);
        for (GtkWidget* partner : m_radioPartners) {
            gtk_widget_destroy(partner);
            g_object_unref(partner);
        }
        if (m_css) {
            gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(m_css));
            g_object_unref(m_css);
        }
        if (m_loop) g_main_loop_unref(m_loop);
        // Let the window go from the screen before the caller goes on.
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    }

    GtkDialogView(const GtkDialogView&) = delete;
    GtkDialogView& operator=(const GtkDialogView&) = delete;

    void Run() {
        Place();
        gtk_widget_show_all(m_window);
        gtk_window_present(GTK_WINDOW(m_window));
        if (Inspector()) m_inspection = g_timeout_add(50, OnInspect, this);
        m_loop = g_main_loop_new(nullptr, FALSE);
        if (!m_dialog.Ended()) g_main_loop_run(m_loop);
    }

    void TextChanged(Control& c) override {
        Updating guard(*this);
        auto* w = static_cast<GtkWidget*>(c.face);
        if (!w) return;
        switch (c.kind) {
        case ControlKind::PushButton:
        case ControlKind::CheckBox:
        case ControlKind::RadioButton: gtk_button_set_label(GTK_BUTTON(w), MnemonicText(c.text).c_str()); break;
        case ControlKind::GroupBox:
            gtk_frame_set_label(GTK_FRAME(w), c.text.empty() ? nullptr : c.text.c_str());
            Tighten(gtk_frame_get_label_widget(GTK_FRAME(w)));
            break;
        case ControlKind::Static: SetStaticText(c); break;
        default: break;
        }
    }

    void CheckChanged(Control& c) override {
        Updating guard(*this);
        auto* w = static_cast<GtkWidget*>(c.face);
        if (!w) return;
        if (c.kind == ControlKind::RadioButton) {
            // A radio button shares its GTK group only with a hidden partner,
            // so that "none checked" can be shown and the layer decides which
            // buttons go off.
            GtkWidget* partner = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(w), "gw-partner"));
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c.check ? w : partner), TRUE);
        } else if (c.kind == ControlKind::CheckBox) {
            gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(w), c.check == static_cast<int>(BST_INDETERMINATE));
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), c.check == static_cast<int>(BST_CHECKED));
        }
    }

    void TrackBarChanged(Control& c) override {
        Updating guard(*this);
        auto* w = static_cast<GtkWidget*>(c.face);
        if (!w) return;
        const double low = c.rangeMin;
        const double high = c.rangeMax > c.rangeMin ? c.rangeMax : c.rangeMin + 1;
        gtk_range_set_range(GTK_RANGE(w), low, high);
        const double page = std::max(1.0, std::floor((high - low) / 5));
        gtk_range_set_increments(GTK_RANGE(w), 1, page);
        gtk_range_set_value(GTK_RANGE(w), c.position);
    }

    void ListChanged(Control& c) override {
        Updating guard(*this);
        auto* list = static_cast<GtkWidget*>(c.face);
        if (!list) return;
        GList* rows = gtk_container_get_children(GTK_CONTAINER(list));
        const auto wanted = c.items.size();
        std::size_t have = 0;
        for (GList* it = rows; it; it = it->next, ++have) {
            GtkWidget* row = GTK_WIDGET(it->data);
            if (have >= wanted) {
                gtk_widget_destroy(row);
                continue;
            }
            GtkWidget* label = gtk_bin_get_child(GTK_BIN(row));
            gtk_label_set_text(GTK_LABEL(label), c.items[have].c_str());
        }
        g_list_free(rows);
        for (std::size_t i = have; i < wanted; ++i) {
            GtkWidget* label = gtk_label_new(c.items[i].c_str());
            gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
            gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
            Tighten(label);
            gtk_container_add(GTK_CONTAINER(list), label);
            gtk_widget_show_all(gtk_widget_get_parent(label));
        }
        if (c.selection >= 0) {
            gtk_list_box_select_row(GTK_LIST_BOX(list), gtk_list_box_get_row_at_index(GTK_LIST_BOX(list), c.selection));
        } else {
            gtk_list_box_unselect_all(GTK_LIST_BOX(list));
        }
    }

    void Ended() override {
        if (m_loop) g_main_loop_quit(m_loop);
    }

private:
    // Changes made by the view itself are not the user's.
    struct Updating {
        explicit Updating(GtkDialogView& v) : view(v), was(v.m_updating) { v.m_updating = true; }
        ~Updating() { view.m_updating = was; }
        GtkDialogView& view;
        bool was;
    };

    struct Binding {
        GtkDialogView* view;
        Control* control;
    };

    int PixelsX(int units) const { return m_units.X(units); }
    int PixelsY(int units) const { return m_units.Y(units); }

    void Build() {
        const DialogTemplate& t = m_dialog.Template();
        m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(m_window), t.caption.c_str());
        gtk_window_set_resizable(GTK_WINDOW(m_window), FALSE);
        gtk_window_set_modal(GTK_WINDOW(m_window), TRUE);
        gtk_window_set_type_hint(GTK_WINDOW(m_window), GDK_WINDOW_TYPE_HINT_DIALOG);
        gtk_window_set_position(GTK_WINDOW(m_window), GTK_WIN_POS_CENTER);
        gtk_style_context_add_class(gtk_widget_get_style_context(m_window), "gw-dialog");

        ApplyFont(t);
        MeasureBaseUnits(t);

        m_fixed = gtk_fixed_new();
        gtk_widget_set_size_request(m_fixed, PixelsX(t.cx), PixelsY(t.cy));
        gtk_container_add(GTK_CONTAINER(m_window), m_fixed);

        for (auto& control : m_dialog.Controls()) m_placed.push_back(AddControl(*control));

        g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDelete), this);
        g_signal_connect(m_window, "key-press-event", G_CALLBACK(OnKey), this);
    }

    void ApplyFont(const DialogTemplate& t) {
        const std::string face = MatchDialogFace(t.fontFace);
        const int points = t.pointSize ? t.pointSize : 9;
        std::string css = ".gw-dialog, .gw-dialog * {";
        if (!face.empty()) css += " font-family: " + CssString(face) + ";";
        css += " font-size: " + std::to_string(points) + "pt;";
        if (t.weight >= 600) css += " font-weight: bold;";
        if (t.italic) css += " font-style: italic;";
        css += " }\n"
               ".gw-dialog button { padding: 0 4px; min-height: 0; min-width: 0; }\n"
               ".gw-dialog checkbutton, .gw-dialog radiobutton { padding: 0; min-height: 0; }\n"
               ".gw-dialog list row { padding: 0 3px; min-height: 0; }\n"
               ".gw-dialog frame > label { margin: 0 3px 0 5px; }\n"
               ".gw-dialog scale { padding: 0 6px; min-height: 0; }\n";
        m_css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(m_css, css.c_str(), -1, nullptr);
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(m_css),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        m_fontDescription = face.empty() ? std::string("Sans") : face;
        m_fontDescription += " " + std::to_string(points);
    }

    void MeasureBaseUnits(const DialogTemplate& t) {
        const int points = t.pointSize ? t.pointSize : 9;
        PangoContext* context = gtk_widget_get_pango_context(m_window);
        PangoFontDescription* font = pango_font_description_from_string(m_fontDescription.c_str());
        PangoLayout* layout = pango_layout_new(context);
        pango_layout_set_font_description(layout, font);
        pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
        int width = 0, height = 0;
        pango_layout_get_pixel_size(layout, &width, &height);
        m_units.baseX = std::max(1, (width / 26 + 1) / 2);
        // The character height is the em square at the screen's resolution:
        // the cell of a Japanese character, and the whole line height of the
        // faces the template names. The substitutes' taller line spacing
        // would stretch the dialog by half again.
        double dpi = pango_cairo_context_get_resolution(context);
        if (dpi <= 0) dpi = 96;
        m_units.baseY = std::max(1, static_cast<int>(std::lround(points * dpi / 72.0)));
        g_object_unref(layout);
        pango_font_description_free(font);
        if (std::getenv("GLIMMERWING_DIALOG_TRACE"))
            std::fprintf(stderr, "glimmerwing: dialog font %s pt, base units %d x %d\n", m_fontDescription.c_str(),
                         m_units.baseX, m_units.baseY);
    }

    // The control's widget, put into the dialog (Place sizes and moves it);
    // null for a control without one.
    GtkWidget* AddControl(Control& c) {
        const DWORD style = c.item.style;
        GtkWidget* placed = nullptr; // what goes into the fixed container
        GtkWidget* face = nullptr;   // what the messages change
        m_bindings.push_back(std::make_unique<Binding>(Binding{this, &c}));
        Binding* binding = m_bindings.back().get();

        switch (c.kind) {
        case ControlKind::PushButton:
            face = placed = gtk_button_new_with_mnemonic(MnemonicText(c.text).c_str());
            if (c.ButtonType() == BS_DEFPUSHBUTTON) {
                gtk_widget_set_can_default(face, TRUE);
                gtk_window_set_default(GTK_WINDOW(m_window), face);
            }
            g_signal_connect(face, "clicked", G_CALLBACK(OnClicked), binding);
            break;
        case ControlKind::CheckBox:
            face = placed = gtk_check_button_new_with_mnemonic(MnemonicText(c.text).c_str());
            g_signal_connect(face, "toggled", G_CALLBACK(OnToggled), binding);
            break;
        case ControlKind::RadioButton: {
            GtkWidget* partner = gtk_radio_button_new(nullptr);
            g_object_ref_sink(partner);
            m_radioPartners.push_back(partner);
            face = placed = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(partner),
                                                                           MnemonicText(c.text).c_str());
            g_object_set_data(G_OBJECT(face), "gw-partner", partner);
            g_signal_connect(face, "toggled", G_CALLBACK(OnToggled), binding);
            break;
        }
        case ControlKind::GroupBox:
            face = placed = gtk_frame_new(c.text.empty() ? nullptr : c.text.c_str());
            gtk_frame_set_shadow_type(GTK_FRAME(face), GTK_SHADOW_ETCHED_IN);
            break;
        case ControlKind::Static: {
            face = gtk_label_new(nullptr);
            const DWORD type = style & SS_TYPEMASK;
            const float xalign = type == SS_CENTER ? 0.5f : (type == SS_RIGHT ? 1.0f : 0.0f);
            gtk_label_set_xalign(GTK_LABEL(face), xalign);
            gtk_label_set_yalign(GTK_LABEL(face), (style & SS_CENTERIMAGE) ? 0.5f : 0.0f);
            gtk_label_set_justify(GTK_LABEL(face), type == SS_CENTER ? GTK_JUSTIFY_CENTER
                                                   : type == SS_RIGHT ? GTK_JUSTIFY_RIGHT
                                                                      : GTK_JUSTIFY_LEFT);
            if (type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE) {
                gtk_label_set_line_wrap(GTK_LABEL(face), TRUE);
                gtk_label_set_line_wrap_mode(GTK_LABEL(face), PANGO_WRAP_WORD_CHAR);
            }
            SetStaticText(c, face);
            if (style & SS_SUNKEN) {
                placed = gtk_frame_new(nullptr);
                gtk_frame_set_shadow_type(GTK_FRAME(placed), GTK_SHADOW_IN);
                gtk_container_add(GTK_CONTAINER(placed), face);
            } else {
                placed = face;
            }
            break;
        }
        case ControlKind::ListBox: {
            placed = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(placed), GTK_POLICY_NEVER,
                                           (style & WS_VSCROLL) ? GTK_POLICY_AUTOMATIC : GTK_POLICY_EXTERNAL);
            if (style & (WS_BORDER)) gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(placed), GTK_SHADOW_IN);
            face = gtk_list_box_new();
            gtk_list_box_set_selection_mode(GTK_LIST_BOX(face),
                                            (style & LBS_NOSEL) ? GTK_SELECTION_NONE : GTK_SELECTION_SINGLE);
            gtk_list_box_set_activate_on_single_click(GTK_LIST_BOX(face), FALSE);
            gtk_container_add(GTK_CONTAINER(placed), face);
            g_signal_connect(face, "row-selected", G_CALLBACK(OnRowSelected), binding);
            break;
        }
        case ControlKind::TrackBar:
            face = placed = gtk_scale_new_with_range(GTK_ORIENTATION_HORIZONTAL, 0, 100, 1);
            gtk_scale_set_draw_value(GTK_SCALE(face), FALSE);
            gtk_range_set_round_digits(GTK_RANGE(face), 0);
            g_signal_connect(face, "value-changed", G_CALLBACK(OnValueChanged), binding);
            break;
        case ControlKind::Other:
            return nullptr; // no face: the text can still be set and read
        }

        c.face = face;
        switch (c.kind) {
        case ControlKind::PushButton:
        case ControlKind::CheckBox:
        case ControlKind::RadioButton: Tighten(gtk_bin_get_child(GTK_BIN(face))); break;
        case ControlKind::GroupBox: Tighten(gtk_frame_get_label_widget(GTK_FRAME(face))); break;
        case ControlKind::Static: Tighten(face); break;
        default: break;
        }
        gtk_fixed_put(GTK_FIXED(m_fixed), placed, 0, 0);
        if (!(style & WS_VISIBLE)) gtk_widget_set_no_show_all(placed, TRUE);
        if (style & WS_DISABLED) gtk_widget_set_sensitive(placed, FALSE);
        if (!(style & WS_TABSTOP)) gtk_widget_set_can_focus(face, FALSE);
        if (c.kind == ControlKind::TrackBar) TrackBarChanged(c);
        return placed;
    }

    static bool HasCaption(const Control& c) {
        switch (c.kind) {
        case ControlKind::PushButton:
        case ControlKind::CheckBox:
        case ControlKind::RadioButton:
        case ControlKind::GroupBox:
        case ControlKind::Static: return !c.text.empty();
        default: return false;
        }
    }

    // Puts every control at its template rectangle, in dialog units stretched
    // so that each caption, measured in the dialog's own font, fits (see
    // FitCaptions). Runs once the dialog procedure has set its texts. A
    // control's narrowest width is its widget's minimum: the caption as Pango
    // lays it out plus the widget's own parts (a check box's box, a button's
    // frame).
    void Place() {
        const DialogTemplate& t = m_dialog.Template();
        const auto& controls = m_dialog.Controls();
        // Labels count in their widget's size only once shown; the window
        // itself stays hidden until it is placed.
        gtk_widget_show_all(m_fixed);
        std::vector<int> widths(m_placed.size(), 0);
        for (std::size_t i = 0; i < m_placed.size(); ++i) {
            GtkWidget* w = m_placed[i];
            if (w && gtk_widget_get_visible(w) && HasCaption(*controls[i]))
                gtk_widget_get_preferred_width(w, &widths[i], nullptr);
        }
        m_units = FitCaptions(t, m_units, widths, [this](std::size_t i, int width) {
            int height = 0;
            gtk_widget_get_preferred_height_for_width(m_placed[i], width, &height, nullptr);
            return height;
        });
        for (std::size_t i = 0; i < m_placed.size(); ++i) {
            if (!m_placed[i]) continue;
            const DialogItemTemplate& item = controls[i]->item;
            gtk_widget_set_size_request(m_placed[i], PixelsX(item.cx), PixelsY(item.cy));
            gtk_fixed_move(GTK_FIXED(m_fixed), m_placed[i], PixelsX(item.x), PixelsY(item.y));
        }
        gtk_widget_set_size_request(m_fixed, PixelsX(t.cx), PixelsY(t.cy));
        if (std::getenv("GLIMMERWING_DIALOG_TRACE"))
            std::fprintf(stderr, "glimmerwing: dialog units stretched %.4f x %.4f for the captions\n", m_units.scaleX,
                         m_units.scaleY);
    }

    // The label that shows a control's caption, or null.
    static GtkWidget* CaptionLabel(const Control& c) {
        auto* face = static_cast<GtkWidget*>(c.face);
        if (!face || !HasCaption(c)) return nullptr;
        GtkWidget* label = nullptr;
        switch (c.kind) {
        case ControlKind::GroupBox: label = gtk_frame_get_label_widget(GTK_FRAME(face)); break;
        case ControlKind::Static: label = face; break;
        default: label = gtk_bin_get_child(GTK_BIN(face)); break;
        }
        return label && GTK_IS_LABEL(label) ? label : nullptr;
    }

    // A rectangle given relative to `widget`, in the dialog's client area.
    RECT InDialog(GtkWidget* widget, int x, int y, int width, int height) const {
        int dx = 0, dy = 0;
        gtk_widget_translate_coordinates(widget, m_fixed, x, y, &dx, &dy);
        return RECT{dx, dy, dx + width, dy + height};
    }

    ShownDialog Shown() const {
        ShownDialog shown;
        shown.width = gtk_widget_get_allocated_width(m_fixed);
        shown.height = gtk_widget_get_allocated_height(m_fixed);
        shown.scaleX = m_units.scaleX;
        shown.scaleY = m_units.scaleY;
        const auto& controls = m_dialog.Controls();
        for (std::size_t i = 0; i < controls.size(); ++i) {
            const Control& c = *controls[i];
            ShownControl& s = shown.controls.emplace_back();
            s.id = c.item.id;
            s.text = c.text;
            GtkWidget* placed = i < m_placed.size() ? m_placed[i] : nullptr;
            if (placed)
                s.control = InDialog(placed, 0, 0, gtk_widget_get_allocated_width(placed),
                                     gtk_widget_get_allocated_height(placed));
            GtkWidget* label = CaptionLabel(c);
            if (!label) continue;
            PangoLayout* layout = gtk_label_get_layout(GTK_LABEL(label));
            PangoRectangle lines{};
            pango_layout_get_pixel_extents(layout, nullptr, &lines);
            // The offsets count from where the label's allocation does.
            int ox = 0, oy = 0;
            gtk_label_get_layout_offsets(GTK_LABEL(label), &ox, &oy);
            GtkAllocation at{};
            gtk_widget_get_allocation(label, &at);
            s.caption = InDialog(label, ox - at.x + lines.x, oy - at.y + lines.y, lines.width, lines.height);
            PangoLayoutIter* run = pango_layout_get_iter(layout);
            do {
                if (PangoLayoutRun* r = pango_layout_iter_get_run_readonly(run)) {
                    PangoFontDescription* d = pango_font_describe(r->item->analysis.font);
                    const char* family = pango_font_description_get_family(d);
                    const std::string face = std::string(family ? family : "") + "\n";
                    if (s.fonts.find(face) == std::string::npos) s.fonts += face;
                    pango_font_description_free(d);
                }
            } while (pango_layout_iter_next_run(run));
            pango_layout_iter_free(run);
        }
        return shown;
    }

    // Hands the laid-out dialog to the inspector, then closes it.
    static gboolean OnInspect(gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        // Two ticks on the screen: mapped, then laid out.
        if (!gtk_widget_get_mapped(view->m_window) || ++view->m_inspectTicks < 2) {
            if (++view->m_inspectWaits < 200) return G_SOURCE_CONTINUE;
        }
        view->m_inspection = 0;
        if (Inspector()) Inspector()(view->Shown());
        view->m_dialog.Cancel();
        return G_SOURCE_REMOVE;
    }

    // Lines as tall as the template's face would make them: the substitute
    // faces space their lines half as far again, which a caption sized in
    // dialog units has no room for.
    void Tighten(GtkWidget* label) const {
        if (!label || !GTK_IS_LABEL(label)) return;
        PangoAttrList* attrs = pango_attr_list_new();
        pango_attr_list_insert(attrs, pango_attr_line_height_new_absolute((m_units.baseY + 2) * PANGO_SCALE));
        gtk_label_set_attributes(GTK_LABEL(label), attrs);
        pango_attr_list_unref(attrs);
    }

    void SetStaticText(Control& c, GtkWidget* label = nullptr) {
        if (!label) label = static_cast<GtkWidget*>(c.face);
        if (c.item.style & SS_NOPREFIX) {
            gtk_label_set_text(GTK_LABEL(label), c.text.c_str());
        } else {
            gtk_label_set_text_with_mnemonic(GTK_LABEL(label), MnemonicText(c.text).c_str());
        }
    }

    static void OnClicked(GtkButton*, gpointer data) {
        auto* b = static_cast<Binding*>(data);
        if (b->view->m_updating) return;
        b->view->m_dialog.Click(*b->control);
    }

    static void OnToggled(GtkToggleButton*, gpointer data) {
        auto* b = static_cast<Binding*>(data);
        GtkDialogView& view = *b->view;
        if (view.m_updating) return;
        view.m_dialog.Click(*b->control);
        // The layer's state wins (a plain check box or radio button does not
        // change by itself).
        view.CheckChanged(*b->control);
    }

    static void OnValueChanged(GtkRange* range, gpointer data) {
        auto* b = static_cast<Binding*>(data);
        GtkDialogView& view = *b->view;
        if (view.m_updating) return;
        view.m_dialog.MoveTrackBar(*b->control, static_cast<int>(std::lround(gtk_range_get_value(range))));
        view.TrackBarChanged(*b->control);
    }

    static void OnRowSelected(GtkListBox*, GtkListBoxRow* row, gpointer data) {
        auto* b = static_cast<Binding*>(data);
        GtkDialogView& view = *b->view;
        if (view.m_updating) return;
        view.m_dialog.SelectItem(*b->control, row ? gtk_list_box_row_get_index(row) : -1);
        view.ListChanged(*b->control);
    }

    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
        static_cast<GtkDialogView*>(data)->m_dialog.Cancel();
        return TRUE; // only EndDialog closes it
    }

    static gboolean OnKey(GtkWidget* window, GdkEventKey* event, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        switch (event->keyval) {
        case GDK_KEY_Escape: view->m_dialog.Cancel(); return TRUE;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter: {
            // A focused push button takes Enter itself; elsewhere it means the
            // default button.
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
            if (focus && GTK_IS_BUTTON(focus) && !GTK_IS_TOGGLE_BUTTON(focus)) return FALSE;
            view->m_dialog.Enter();
            return TRUE;
        }
        default: return FALSE;
        }
    }

    DialogWindow& m_dialog;
    GtkWidget* m_window = nullptr;
    GtkWidget* m_fixed = nullptr;
    GtkCssProvider* m_css = nullptr;
    GMainLoop* m_loop = nullptr;
    std::string m_fontDescription;
    DialogUnits m_units;
    std::vector<GtkWidget*> m_placed; // each control's widget in the dialog, by template order
    guint m_inspection = 0;            // the pending inspection (tests)
    int m_inspectTicks = 0;
    int m_inspectWaits = 0;
    bool m_updating = false;
    std::vector<GtkWidget*> m_radioPartners;
    std::vector<std::unique_ptr<Binding>> m_bindings;
};

} // namespace

bool RunGtkDialog(DialogWindow& dialog, LPARAM initParam) {
    if (!GtkReady()) {
        std::fputs("glimmerwing: the dialog cannot be shown: no display\n", stderr);
        return false;
    }
    GtkDialogView view(dialog);
    dialog.SetView(&view);
    dialog.Initialise(initParam);
    if (!dialog.Ended()) view.Run();
    dialog.SetView(nullptr);
    return true;
}

} // namespace platform::dialog

void platform::InspectDesktopDialogsForTesting(std::function<void(const ShownDialog&)> inspect) {
    platform::dialog::Inspector() = std::move(inspect);
}
