// common/ukwUpdDBFlatFile.h: the launcher's line files: a small in-memory data set over
// a text file, and the three record layouts that carry the update work (requisites, update
// history, change list).
//
// One record per line, fields separated by ";", no header: the field names live in the
// object (the layout), not in the file. A cursor walks the records; the current record's
// values are loaded into the field values by every move and written back into the line only
// by Post. What must stay true:
//   - the field-values list has at least as many entries as the field-names list;
//   - a stored value never holds the separator and has no blanks at either end, so a saved
//     file always reads back to the same records;
//   - a line written by Post has exactly one separator fewer than the layout has fields,
//     whatever values are empty;
//   - SaveToFile replaces the file atomically (a new file renamed over the old one), so a
//     crash leaves the old records or the new ones, never half a file.
// Only LoadFromFile and SaveToFile take the data set's own lock; a data set is otherwise used
// by one thread at a time.
//
// The layouts: TkwUpdDadosRequisitos (11, 14 or 16 fields), TkwUpdDadosHistorico (8 fields,
// fixed) and TkwUpdDadosAlteracoes (9, 12 or 14 fields). The requisites and the change list
// start with the layout of the launcher's version number and pick the layout that fits the
// first line of every text loaded or set. They carry the (scrambled) update-site passwords,
// so their files are written readable by the owner only.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/StringList.h"

class TkwUpdLog;

class TkwUpdDBFlatFile {
public:
    // Rebuilds the layout after a text is loaded or set (see DetecteLayout).
    using TLayoutEvent = std::function<void(TkwUpdDBFlatFile&)>;

    TkwUpdDBFlatFile();
    virtual ~TkwUpdDBFlatFile();
    TkwUpdDBFlatFile(const TkwUpdDBFlatFile&) = delete;
    TkwUpdDBFlatFile& operator=(const TkwUpdDBFlatFile&) = delete;

    // The value without any separator character and without blanks at either end.
    virtual std::string CodifiqueValor(std::string_view valor) const;
    // Appends a separator (unless the value is the record's first field) and the coded value
    // to the record buffer.
    virtual void AcrescenteAoRegistro(std::string_view valor);

    // The whole content, every line ended by CR LF; moves the cursor to the first record when
    // there is one.
    std::string GetTexto();
    // Picks the layout for the text (DetecteLayout), then replaces every line by the text's
    // lines; the cursor stays where it was.
    void SetTexto(std::string_view texto);

    // The name in upper case.
    virtual std::string NormalizeNomeCampo(std::string_view nome) const;
    // Raises (catalogue message 1) when there are fewer field values than field names.
    virtual void VerifiqueCampos() const;
    // Position of the field in the layout; raises "O campo "<nome>" não existe." when absent.
    virtual int IndiceCampo(std::string_view nome) const;

    // False (and nothing changes) when no file exists at the path; otherwise the file's lines
    // replace the records, the layout is picked and the cursor goes to the first record.
    // Raises rtl::EFOpenError when an existing file cannot be read.
    virtual bool LoadFromFile(const std::string& caminho);
    // Clears an existing file's read-only flag and replaces the file with the records, each
    // ended by CR LF. Raises rtl::EWriteError when it cannot be written.
    virtual void SaveToFile(const std::string& caminho);

    // Moves the cursor (-1 .. RecordCount) and loads the record's values; false (nothing
    // changes) on an empty data set or an index outside that range.
    virtual bool MoveTo(int n);
    // Adds an empty line at the end and moves to it.
    virtual void Append();
    // Empties the record buffer.
    virtual void LimpeRegistro();
    // Writes the field values into the line under the cursor; rtl::EListError when the cursor
    // is before the first or after the last record.
    virtual void Post();
    // Deletes the line under the cursor, then Prior.
    virtual void Delete();
    // Removes every line; cursor -1.
    virtual void Clear();

    void AdicioneCampo(std::string_view nome);
    std::string CampoPorNome(std::string_view nome) const;
    void AtribuaCampo(std::string_view nome, std::string_view valor);
    bool CampoNulo(std::string_view nome) const;
    bool PossuiCampo(std::string_view nome) const;
    // The current record's value of the field at a layout position (IndiceCampo), as
    // CampoPorNome gives it but without a copy: for readers that look their positions up once
    // per layout and then read many records.
    const std::string& ValorPorIndice(int indice) const { return valores_.at(size_t(indice)); }
    // The index-th (0-based) field of the line under the cursor, trimmed; empty at Bof or Eof.
    std::string ValorCampo(int indice) const;
    // The line of record i (0 <= i < RecordCount()), as it stands until the records change.
    std::string_view Linha(int i) const { return linhas_[i]; }
    // The layout's fields of a line, as a move reads them into the field values, without a copy:
    // campos[i] (one per field of the layout, campos.size() at least NomesCampos().size()) views
    // field i trimmed, empty when the line lacks it. The result is how many of them the line
    // holds (CamposPresentes). For readers of many records that need no cursor.
    int SepareCampos(std::string_view linha, std::span<std::string_view> campos) const;
    // How many of the layout's fields the line under the cursor holds (an empty line holds one,
    // an empty one; fields past the layout's are not counted); 0 at Bof or Eof. A line cut
    // short holds fewer than the layout has.
    int CamposPresentes() const { return camposPresentes_; }

    bool IsEmpty() const { return linhas_.Count() == 0; }
    int RecordCount() const { return linhas_.Count(); }
    bool Bof() const { return cursor_ < 0 || IsEmpty(); }
    bool Eof() const { return cursor_ >= linhas_.Count() || IsEmpty(); }
    void First() { MoveTo(0); }
    void Last() { MoveTo(linhas_.Count() - 1); }
    void Next();
    void Prior();

    // Stores the text's first-line field count and, when OnLayout is set, empties the layout
    // and lets OnLayout rebuild it.
    void DetecteLayout(std::string_view texto);
    // 0 for a text without any line, else 1 plus the ";" of its first line.
    static int ConteCamposPrimeiraLinha(std::string_view texto);

    int Cursor() const { return cursor_; }
    const std::string& FileName() const { return arquivo_; }
    int CamposPrimeiraLinha() const { return camposPrimeiraLinha_; }
    const std::vector<std::string>& NomesCampos() const { return nomes_; }
    char Separador() const { return separador_; }
    // Grows by one at every change of the records, so an index built over them can tell that
    // it is stale.
    uint64_t Versao() const { return versao_; }

    TLayoutEvent OnLayout;

protected:
    // Permission bits of files this data set creates or replaces; -1 keeps an existing file's
    // bits (a new file gets the process's default).
    void SetModoArquivo(int modo) { modoArquivo_ = modo; }
    void DefinaCampos(std::initializer_list<std::string_view> nomes);

private:
    // The records' lines. A text loaded or set is kept whole and its lines are viewed in it
    // (split in place: a requisites text or a history of 20,000 lines costs no string per line,
    // and a reader of many records walks one piece of memory); a line written by Append or Post
    // gets a text of its own. Indexes outside the lines raise rtl::EListError, as the platform's
    // string list does.
    class TLinhas {
    public:
        int Count() const { return int(linhas_.size()); }
        std::string_view operator[](int i) const;
        // Replaces every line by the lines of the text (split at CR LF, LF or CR).
        void SetText(std::string texto);
        void Add(std::string_view linha);
        void Set(int i, std::string_view linha);
        void Delete(int i);
        void Clear();
        // Every line followed by CR LF.
        std::string Text() const;

    private:
        struct TLinha {
            std::string_view texto;
            std::unique_ptr<std::string> propria;  // the text of a line written here
        };
        void Verifique(int i) const;

        std::string texto_;
        std::vector<TLinha> linhas_;
    };

    void SubstituaLinhas(std::string texto);
    void Modificou() { ++versao_; }

    char separador_ = ';';
    TLinhas linhas_;
    int cursor_ = -1;
    std::string registro_;
    int camposNoRegistro_ = 0;
    int camposPresentes_ = 0;
    std::vector<std::string> nomes_;
    std::vector<std::string> valores_;
    std::string arquivo_;
    std::mutex trava_;
    int camposPrimeiraLinha_ = 0;
    int modoArquivo_ = -1;
    uint64_t versao_ = 0;
};

// The requisites text and "kwExec.req": what the current version of the application requires.
class TkwUpdDadosRequisitos : public TkwUpdDBFlatFile {
public:
    TkwUpdDadosRequisitos();
    // The current record's nuCRC is not blank ("0" counts as given here).
    bool TemCRC() const;
    // Replaces the layout by the 11-, 14- or 16-field one.
    void DefinaLayout(int campos);
};

// The update history "kwExec.hst": one record per installed object and operation.
class TkwUpdDadosHistorico : public TkwUpdDBFlatFile {
public:
    TkwUpdDadosHistorico();

    // Replaces the history record of an object (system, object without regard to case,
    // operation) by a new one naming this workstation; for operations 1 and 5 the record
    // carries the file's size and time. Does not save the file.
    void RegistreHistorico(const std::string& cdSistema, const std::string& nmObjeto,
                           const std::string& nuControle, int cdTipoOperacao, const std::string& caminho,
                           TkwUpdLog* log);

    // Where RegistreHistorico takes the workstation's name and a file's size and time texts
    // from. The transfer layer's PegueNomeComputador and PegueDadosArquivo answer these in a
    // run (the verification engine sets them, since that layer sits above this one); a
    // history without them refuses to register.
    std::function<std::string()> OnNomeComputador;
    std::function<void(const std::string& caminho, std::string& tamanho, std::string& dataHora)>
        OnDadosArquivo;
};

// The change list "kwVerify.lcm": what the update executor must do.
class TkwUpdDadosAlteracoes : public TkwUpdDBFlatFile {
public:
    TkwUpdDadosAlteracoes();
    // Replaces the layout by the 9-, 12- or 14-field one.
    void DefinaLayout(int campos);
};
