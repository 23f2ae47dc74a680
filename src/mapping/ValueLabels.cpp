#include "mapping/ValueLabels.h"

#include <algorithm>
#include <array>

#include "addressbook/ContactKeys.h"
#include "input/DataCell.h"
#include "support/Format.h"
#include "support/Localization.h"
#include "text/UnicodeText.h"

namespace pelkora {

using namespace contacts;

namespace {

struct LabelWord {
    std::string_view text;  // lower case, as a label cell writes it
    std::string_view label;
};

// The label words of label cells in the vocabulary languages. A word names the constant for
// every target that offers it; for others ("Mobile" on an e-mail address) the cell's text is
// a custom label.
constexpr LabelWord kLabelWords[] = {
    // English (Google, Outlook, vCard-style exports)
    {"mobile", Label::mobile},
    {"mobile phone", Label::mobile},
    {"cell", Label::mobile},
    {"cellular", Label::mobile},
    {"cell phone", Label::mobile},
    {"work", Label::work},
    {"business", Label::work},
    {"office", Label::work},
    {"home", Label::home},
    {"personal", Label::home},
    {"private", Label::home},
    {"main", Label::main},
    {"company main", Label::main},
    {"other", Label::other},
    {"work fax", Label::workFax},
    {"business fax", Label::workFax},
    {"fax", Label::workFax},
    {"home fax", Label::homeFax},
    {"other fax", Label::otherFax},
    {"pager", Label::pager},
    {"school", Label::school},
    {"homepage", Label::homePage},
    {"home page", Label::homePage},
    {"anniversary", Label::anniversary},
    // German
    {"mobil", Label::mobile},
    {"handy", Label::mobile},
    {"mobiltelefon", Label::mobile},
    {"arbeit", Label::work},
    {"geschäftlich", Label::work},
    {"dienstlich", Label::work},
    {"büro", Label::work},
    {"privat", Label::home},
    {"zuhause", Label::home},
    {"zu hause", Label::home},
    {"hauptnummer", Label::main},
    {"andere", Label::other},
    {"sonstige", Label::other},
    {"fax geschäftlich", Label::workFax},
    {"fax privat", Label::homeFax},
    {"fax (geschäftlich)", Label::workFax},
    {"fax (privat)", Label::homeFax},
    {"schule", Label::school},
    {"jahrestag", Label::anniversary},
    // French
    {"portable", Label::mobile},
    {"travail", Label::work},
    {"bureau", Label::work},
    {"professionnel", Label::work},
    {"domicile", Label::home},
    {"maison", Label::home},
    {"privé", Label::home},
    {"personnel", Label::home},
    {"principal", Label::main},
    {"autre", Label::other},
    {"fax bureau", Label::workFax},
    {"fax professionnel", Label::workFax},
    {"fax domicile", Label::homeFax},
    {"télécopie", Label::workFax},
    {"bipeur", Label::pager},
    {"école", Label::school},
    // Spanish
    {"móvil", Label::mobile},
    {"celular", Label::mobile},
    {"trabajo", Label::work},
    {"oficina", Label::work},
    {"casa", Label::home},
    {"particular", Label::home},
    {"otro", Label::other},
    {"fax del trabajo", Label::workFax},
    {"fax de trabajo", Label::workFax},
    {"fax de casa", Label::homeFax},
    {"fax particular", Label::homeFax},
    {"buscapersonas", Label::pager},
    {"localizador", Label::pager},
    {"escuela", Label::school},
    {"aniversario", Label::anniversary},
    // Italian
    {"cellulare", Label::mobile},
    {"lavoro", Label::work},
    {"ufficio", Label::work},
    {"abitazione", Label::home},
    {"privato", Label::home},
    {"principale", Label::main},
    {"altro", Label::other},
    {"fax lavoro", Label::workFax},
    {"fax ufficio", Label::workFax},
    {"fax casa", Label::homeFax},
    {"fax abitazione", Label::homeFax},
    {"cercapersone", Label::pager},
    {"scuola", Label::school},
    {"anniversario", Label::anniversary},
    // Dutch
    {"mobiel", Label::mobile},
    {"werk", Label::work},
    {"zakelijk", Label::work},
    {"thuis", Label::home},
    {"prive", Label::home},
    {"hoofdnummer", Label::main},
    {"overig", Label::other},
    {"anders", Label::other},
    {"fax werk", Label::workFax},
    {"fax thuis", Label::homeFax},
    {"pieper", Label::pager},
    // Portuguese
    {"telemóvel", Label::mobile},
    {"trabalho", Label::work},
    {"comercial", Label::work},
    {"residencial", Label::home},
    {"pessoal", Label::home},
    {"outro", Label::other},
    {"fax comercial", Label::workFax},
    {"fax do trabalho", Label::workFax},
    {"fax residencial", Label::homeFax},
    // Swedish, Danish, Norwegian
    {"arbete", Label::work},
    {"jobb", Label::work},
    {"arbejde", Label::work},
    {"arbeid", Label::work},
    {"hem", Label::home},
    {"hjem", Label::home},
    {"huvudnummer", Label::main},
    {"hovednummer", Label::main},
    {"annan", Label::other},
    {"övrigt", Label::other},
    {"anden", Label::other},
    {"andet", Label::other},
    {"annen", Label::other},
    {"annet", Label::other},
    {"fax arbete", Label::workFax},
    {"fax hem", Label::homeFax},
    {"fax arbejde", Label::workFax},
    {"fax hjem", Label::homeFax},
    {"faks", Label::workFax},
    {"faks jobb", Label::workFax},
    {"faks hjem", Label::homeFax},
    {"personsökare", Label::pager},
    {"personsøger", Label::pager},
    {"personsøker", Label::pager},
    // Finnish
    {"matkapuhelin", Label::mobile},
    {"kännykkä", Label::mobile},
    {"työ", Label::work},
    {"koti", Label::home},
    {"yksityinen", Label::home},
    {"päänumero", Label::main},
    {"muu", Label::other},
    {"työfaksi", Label::workFax},
    {"kotifaksi", Label::homeFax},
    {"faksi", Label::workFax},
    {"hakulaite", Label::pager},
    // Polish
    {"komórka", Label::mobile},
    {"komórkowy", Label::mobile},
    {"praca", Label::work},
    {"służbowy", Label::work},
    {"dom", Label::home},
    {"domowy", Label::home},
    {"prywatny", Label::home},
    {"główny", Label::main},
    {"inny", Label::other},
    {"faks służbowy", Label::workFax},
    {"faks domowy", Label::homeFax},
    // Czech
    {"mobilní", Label::mobile},
    {"práce", Label::work},
    {"pracovní", Label::work},
    {"domů", Label::home},
    {"domácí", Label::home},
    {"soukromý", Label::home},
    {"hlavní", Label::main},
    {"jiné", Label::other},
    {"další", Label::other},
    {"pracovní fax", Label::workFax},
    {"domácí fax", Label::homeFax},
    // Russian
    {"мобильный", Label::mobile},
    {"сотовый", Label::mobile},
    {"рабочий", Label::work},
    {"работа", Label::work},
    {"домашний", Label::home},
    {"личный", Label::home},
    {"основной", Label::main},
    {"другой", Label::other},
    {"рабочий факс", Label::workFax},
    {"домашний факс", Label::homeFax},
    {"факс", Label::workFax},
    {"пейджер", Label::pager},
    // Japanese
    {"携帯", Label::mobile},
    {"携帯電話", Label::mobile},
    {"勤務先", Label::work},
    {"会社", Label::work},
    {"仕事", Label::work},
    {"自宅", Label::home},
    {"個人", Label::home},
    {"メイン", Label::main},
    {"その他", Label::other},
    {"勤務先fax", Label::workFax},
    {"自宅fax", Label::homeFax},
    {"ファックス", Label::workFax},
    {"ポケベル", Label::pager},
    // Chinese
    {"手机", Label::mobile},
    {"移动电话", Label::mobile},
    {"工作", Label::work},
    {"单位", Label::work},
    {"公司", Label::work},
    {"住宅", Label::home},
    {"家庭", Label::home},
    {"家", Label::home},
    {"私人", Label::home},
    {"主要", Label::main},
    {"其他", Label::other},
    {"工作传真", Label::workFax},
    {"住宅传真", Label::homeFax},
    {"传真", Label::workFax},
    {"寻呼机", Label::pager},
};

// Words of column titles that say where a value belongs, in the vocabulary languages. Words
// of the scripts without blanks between words are looked for inside the title.
constexpr LabelWord kPlaceWords[] = {
    // home
    {"home", Label::home},
    {"private", Label::home},
    {"personal", Label::home},
    {"residence", Label::home},
    {"residential", Label::home},
    {"privat", Label::home},
    {"zuhause", Label::home},
    {"wohnort", Label::home},
    {"wohnung", Label::home},
    {"domicile", Label::home},
    {"maison", Label::home},
    {"personnel", Label::home},
    {"personnelle", Label::home},
    {"privé", Label::home},
    {"privée", Label::home},
    {"perso", Label::home},
    {"casa", Label::home},
    {"particular", Label::home},
    {"residencia", Label::home},
    {"domicilio", Label::home},
    {"vive", Label::home},
    {"privado", Label::home},
    {"privada", Label::home},
    {"abitazione", Label::home},
    {"residenza", Label::home},
    {"privato", Label::home},
    {"privata", Label::home},
    {"thuis", Label::home},
    {"prive", Label::home},
    {"woonadres", Label::home},
    {"woonplaats", Label::home},
    {"residencial", Label::home},
    {"pessoal", Label::home},
    {"residência", Label::home},
    {"hem", Label::home},
    {"hjem", Label::home},
    {"bolig", Label::home},
    {"bostad", Label::home},
    {"koti", Label::home},
    {"kotiosoite", Label::home},
    {"dom", Label::home},
    {"domowy", Label::home},
    {"domowe", Label::home},
    {"domowa", Label::home},
    {"prywatny", Label::home},
    {"prywatne", Label::home},
    {"domácí", Label::home},
    {"soukromý", Label::home},
    {"soukromá", Label::home},
    {"bydliště", Label::home},
    {"домашний", Label::home},
    {"домашняя", Label::home},
    {"личный", Label::home},
    {"личная", Label::home},
    {"自宅", Label::home},
    {"住宅", Label::home},
    {"家庭", Label::home},
    {"私人", Label::home},
    // work
    {"work", Label::work},
    {"business", Label::work},
    {"office", Label::work},
    {"job", Label::work},
    {"arbeit", Label::work},
    {"geschäftlich", Label::work},
    {"dienstlich", Label::work},
    {"beruflich", Label::work},
    {"büro", Label::work},
    {"bureau", Label::work},
    {"travail", Label::work},
    {"professionnel", Label::work},
    {"professionnelle", Label::work},
    {"pro", Label::work},
    {"trabajo", Label::work},
    {"oficina", Label::work},
    {"laboral", Label::work},
    {"empresa", Label::work},
    {"lavoro", Label::work},
    {"ufficio", Label::work},
    {"uff", Label::work},
    {"aziendale", Label::work},
    {"werk", Label::work},
    {"zakelijk", Label::work},
    {"kantoor", Label::work},
    {"trabalho", Label::work},
    {"comercial", Label::work},
    {"escritório", Label::work},
    {"arbete", Label::work},
    {"jobb", Label::work},
    {"arbejde", Label::work},
    {"arbeid", Label::work},
    {"työ", Label::work},
    {"työpaikka", Label::work},
    {"praca", Label::work},
    {"służbowy", Label::work},
    {"służbowe", Label::work},
    {"służbowa", Label::work},
    {"práce", Label::work},
    {"pracovní", Label::work},
    {"рабочий", Label::work},
    {"рабочая", Label::work},
    {"работа", Label::work},
    {"勤務先", Label::work},
    {"会社", Label::work},
    {"工作", Label::work},
    {"公司", Label::work},
    {"单位", Label::work},
};

// The label words of a column title, "<prefix> - <word>", in the vocabulary languages.
constexpr std::string_view kLabelColumnWords[] = {
    "label",  "type",      "typ",    "bezeichnung", "libellé",  "étiquette", "etiqueta", "tipo",
    "rótulo", "etichetta", "etiket", "etikett",     "tunniste", "tyyppi",    "etykieta", "rodzaj",
    "štítek", "метка",     "тип",    "ラベル",      "種類",     "タイプ",    "标签",     "类型",
};

// Characters of a title that separate words: ASCII characters other than letters. Letters of
// other scripts are never separators, so "Città" and "Ciudad" stay whole.
bool separatesWords(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) return false;
    return !((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z'));
}

std::vector<std::string_view> wordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= text.size(); ++at) {
        if (at < text.size() && !separatesWords(text[at])) continue;
        if (at > start) words.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    return words;
}

// Whether the word is written in a script that puts no blanks between words (Japanese,
// Chinese): its first code point lies at or above U+3000.
bool isUnspacedScript(std::string_view word) {
    return !word.empty() && static_cast<unsigned char>(word.front()) >= 0xE3;
}

std::string withoutPrimaryMark(std::string_view text) {
    std::string trimmed = trimmedWhiteSpace(text);
    std::string_view rest = trimmed;
    while (!rest.empty() && rest.front() == '*') rest.remove_prefix(1);
    return trimmedWhiteSpace(rest);
}

// The position of the last " - " of a title.
std::size_t lastDash(std::string_view title) {
    return title.rfind(" - ");
}

}  // namespace

std::vector<std::string> splitMultipleValues(std::string_view text) {
    // The separator's blanks are gone where the cell was trimmed (" ::: +1 555" for an empty
    // first value), so ":::" separates wherever blanks or the ends of the text surround it.
    constexpr std::string_view colons = kMultipleValueSeparator.substr(1, 3);
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    std::vector<std::string> values;
    std::size_t start = 0;
    for (std::size_t found = text.find(colons); found != std::string_view::npos;
         found = text.find(colons, found + 1)) {
        const std::size_t end = found + colons.size();
        if ((found > 0 && !isBlank(text[found - 1])) || (end < text.size() && !isBlank(text[end])))
            continue;
        values.push_back(trimmedWhiteSpace(text.substr(start, found - start)));
        start = end;
        found = end - 1;
    }
    values.push_back(trimmedWhiteSpace(text.substr(start)));
    return values;
}

std::optional<std::string> labelFromLabelText(std::string_view text,
                                              const SuggestedContactProperty& target) {
    std::string label = withoutPrimaryMark(text);
    if (label.empty()) return std::nullopt;
    const auto offered = target.systemLabels();
    const auto offers = [&](std::string_view constant) {
        return std::find(offered.begin(), offered.end(), constant) != offered.end();
    };
    const std::string lowered = lowercased(label);
    for (const auto& word : kLabelWords) {
        if (word.text == lowered && offers(word.label)) return std::string(word.label);
    }
    // A constant, a display text of the user's language or a relation ("Spouse").
    SuggestedContactProperty labelled = target;
    labelled.systemLabel.reset();
    labelled.customLabel.reset();
    labelled.setLabel(label);
    return labelled.label();
}

std::optional<std::string_view> placeLabelInTitle(std::string_view title) {
    const std::string lowered = lowercased(title);
    for (const std::string_view word : wordsOf(lowered)) {
        for (const auto& place : kPlaceWords) {
            if (place.text == word) return place.label;
        }
    }
    for (const auto& place : kPlaceWords) {
        if (isUnspacedScript(place.text) && lowered.find(place.text) != std::string::npos)
            return place.label;
    }
    return std::nullopt;
}

std::optional<std::string> labelColumnPrefix(std::string_view title) {
    const std::size_t dash = lastDash(title);
    if (dash == std::string_view::npos || dash == 0) return std::nullopt;
    const std::string word = lowercased(trimmedWhiteSpace(title.substr(dash + 3)));
    if (std::find(std::begin(kLabelColumnWords), std::end(kLabelColumnWords), word) ==
        std::end(kLabelColumnWords))
        return std::nullopt;
    return lowercased(trimmedWhiteSpace(title.substr(0, dash)));
}

void pairLabelColumns(std::vector<MappedContactProperty>& list) {
    for (auto& labelColumn : list) {
        const auto prefix = labelColumnPrefix(labelColumn.sourceFieldName);
        if (!prefix) continue;
        bool labels = false;
        for (auto& entry : list) {
            if (&entry == &labelColumn || entry.mappedManuallyByUser) continue;
            const auto& target = entry.contactProperty;
            if (!target.isValid() || !target.canHaveLabel() ||
                target.label() == kExtractLabelMarker)
                continue;
            const std::string_view title = entry.sourceFieldName;
            const std::size_t dash = lastDash(title);
            if (dash == std::string_view::npos ||
                lowercased(trimmedWhiteSpace(title.substr(0, dash))) != *prefix)
                continue;
            // Two label columns for one value ("Phone 1 - Type" and "Phone 1 - Label"): the
            // first one labels it.
            if (entry.labelColumnIndex) continue;
            entry.labelColumnIndex = labelColumn.columnIndex;
            labels = true;
        }
        if (labels && !labelColumn.mappedManuallyByUser) {
            labelColumn.contactProperty.clearAll();
            labelColumn.isCustomMapping = false;
        }
    }
}

std::optional<std::string> labelColumnName(const MappedContactProperty& entry,
                                           const std::vector<MappedContactProperty>& list) {
    if (!entry.labelColumnIndex) return std::nullopt;
    const auto found = std::find_if(list.begin(), list.end(), [&](const auto& other) {
        return other.columnIndex == *entry.labelColumnIndex;
    });
    if (found != list.end() && found->formattedColumnIndex) return *found->formattedColumnIndex;
    return formattedColumnIndex(*entry.labelColumnIndex, kColumnIndexStyleOneBased);
}

std::string displayedLabel(const MappedContactProperty& entry,
                           const std::vector<MappedContactProperty>& list) {
    const auto& target = entry.contactProperty;
    if (!target.canHaveLabel()) return {};
    if (auto column = labelColumnName(entry, list))
        return formatMessage(localizedString("label from column %@"), *column);
    return target.formattedContactLabel().value_or("");
}

bool isSystemGroupName(std::string_view name) {
    return name.starts_with("* ");
}

}  // namespace pelkora
