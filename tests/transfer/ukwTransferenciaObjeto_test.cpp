// The request object of the newest requisites call and the object transfer: the text the
// server reads, byte for byte, and the way back.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "rtl/ClassRegistry.h"
#include "rtl/FieldComponents.h"
#include "rtl/FormText.h"
#include "transfer/ukwObjDadosRequisito.h"
#include "transfer/ukwOleVariantStream.h"
#include "transfer/ukwTransferenciaObjeto.h"

namespace {

std::string Texto(const rtl::Component& c) {
    return TkwTransferenciaObjeto::ObjetoParaTexto(c);
}

std::unique_ptr<TkwObjDadosRequisito> Requisicao(int32_t sistema, int32_t generico, int32_t local,
                                                 const std::string& endereco) {
    auto r = std::make_unique<TkwObjDadosRequisito>();
    r->SetCdSistema(sistema);
    r->SetCdSistemaGenerico(generico);
    r->SetCdLocalUpdate(local);
    r->SetEndereco(endereco);
    return r;
}

TEST(TkwObjDadosRequisito, TheLaunchersRequestOnTheSocketRoad) {
    const auto r = Requisicao(5, 0, 3, "IP=10.1.2.3|MASK=255.255.255.0\r\n");
    EXPECT_EQ(Texto(*r),
              "object TkwObjDadosRequisito\r\n"
              "  CdSistema = 5\r\n"
              "  CdSistemaGenerico = 0\r\n"
              "  CdLocalUpdate = 3\r\n"
              "  Endereco = 'IP=10.1.2.3|MASK=255.255.255.0'#13#10\r\n"
              "end\r\n");
}

TEST(TkwObjDadosRequisito, CodesAreAlwaysWrittenAndNegativeOnesCarryTheirSign) {
    const auto zero = Requisicao(0, 0, 0, "");
    EXPECT_EQ(Texto(*zero),
              "object TkwObjDadosRequisito\r\n"
              "  CdSistema = 0\r\n"
              "  CdSistemaGenerico = 0\r\n"
              "  CdLocalUpdate = 0\r\n"
              "end\r\n");
    const auto negativo = Requisicao(-7, -2147483647 - 1, 2147483647, "");
    EXPECT_NE(Texto(*negativo).find("  CdSistema = -7\r\n  CdSistemaGenerico = -2147483648\r\n"
                                   "  CdLocalUpdate = 2147483647\r\n"),
              std::string::npos);
}

TEST(TkwObjDadosRequisito, LongTextsWrapAtSixtyFourCharacters) {
    struct Case {
        const char* name;
        std::string endereco;
        std::string linhas;  // what follows "  Endereco = "
    };
    const std::string e64(64, 'e');
    std::string acentos;
    for (int i = 0; i < 64; ++i)
        acentos += "é";
    const Case cases[] = {
        {"two interfaces",
         "IP=10.1.2.3|MASK=255.255.255.0\r\nIP=192.168.100.200|MASK=255.255.255.0\r\n",
         "\r\n    'IP=10.1.2.3|MASK=255.255.255.0'#13#10'IP=192.168.100.200|MASK=255.255.' +\r\n"
         "    '255.0'#13#10\r\n"},
        // Exactly 64 characters: one line, no break.
        {"at the limit", e64, "'" + e64 + "'\r\n"},
        // One more: a new line first, then a break after 64 characters.
        {"one past", e64 + "f", "\r\n    '" + e64 + "' +\r\n    'f'\r\n"},
        // Accented letters count as characters, not as the bytes of their UTF-8 form.
        {"accented", acentos + "abc", "\r\n    '" + acentos + "' +\r\n    'abc'\r\n"},
        {"accented at the limit", acentos, "'" + acentos + "'\r\n"},
        // A code written as #nn counts one character, and the break comes after it.
        {"codes",
         std::string(63, 'x') + "\r\n" + "yz",
         "\r\n    '" + std::string(63, 'x') + "'#13 +\r\n    #10'yz'\r\n"},
    };
    for (const Case& c : cases) {
        const auto r = Requisicao(1, 2, 3, c.endereco);
        const std::string texto = Texto(*r);
        const std::string prefixo = "  CdLocalUpdate = 3\r\n  Endereco = ";
        const size_t p = texto.find(prefixo);
        ASSERT_NE(p, std::string::npos) << c.name;
        EXPECT_EQ(texto.substr(p + prefixo.size()), c.linhas + "end\r\n") << c.name;
        // And the text reads back to the same request.
        const auto lido = TkwTransferenciaObjeto::TextoParaObjeto(texto);
        EXPECT_EQ(dynamic_cast<TkwObjDadosRequisito&>(*lido).Endereco(), c.endereco) << c.name;
    }
}

TEST(TkwObjDadosRequisito, ApostrophesAndControlCharactersAreCodes) {
    const auto r = Requisicao(1, 0, 0, "http://srv/it's\tok");
    EXPECT_NE(Texto(*r).find("  Endereco = 'http://srv/it'#39's'#9'ok'\r\n"), std::string::npos);
}

TEST(TkwObjDadosRequisito, EveryPropertyRoundTripsAndTheReferenceIsItsName) {
    rtl::Component banco;
    banco.SetName("dmBanco");
    auto r = Requisicao(12, 34, -56, "https://srv/kw/httpsrvr.dll");
    r->SetDatabase(&banco);
    r->SetEsquema("KW");
    r->SetNomeMaquina("estação-01");
    r->SetUsuarioMaquina("joão");
    r->SetLocalIP("10.0.0.9");
    r->SetDeVersaoCliente("4.1.0.0");
    r->SetTag(77);
    const std::string texto = Texto(*r);
    EXPECT_EQ(texto,
              "object TkwObjDadosRequisito\r\n"
              "  Tag = 77\r\n"
              "  Database = dmBanco\r\n"
              "  Esquema = 'KW'\r\n"
              "  CdSistema = 12\r\n"
              "  CdSistemaGenerico = 34\r\n"
              "  CdLocalUpdate = -56\r\n"
              "  Endereco = 'https://srv/kw/httpsrvr.dll'\r\n"
              "  NomeMaquina = 'estação-01'\r\n"
              "  UsuarioMaquina = 'joão'\r\n"
              "  LocalIP = '10.0.0.9'\r\n"
              "  DeVersaoCliente = '4.1.0.0'\r\n"
              "end\r\n");

    // Read back, the reference resolves through the finder the reader is given.
    const auto lido = rtl::TextToComponent(texto, [&](std::string_view nome) {
        return nome == "dmBanco" ? &banco : nullptr;
    });
    const auto& l = dynamic_cast<const TkwObjDadosRequisito&>(*lido);
    EXPECT_EQ(l.Database(), &banco);
    EXPECT_EQ(l.Tag(), 77);
    EXPECT_EQ(l.NomeMaquina(), "estação-01");
    EXPECT_EQ(l.CdLocalUpdate(), -56);
    EXPECT_EQ(Texto(l), texto);
    // Without a finder the reference stays unset and the rest is read.
    const auto semBanco = TkwTransferenciaObjeto::TextoParaObjeto(texto);
    EXPECT_EQ(dynamic_cast<const TkwObjDadosRequisito&>(*semBanco).Database(), nullptr);
    EXPECT_EQ(dynamic_cast<const TkwObjDadosRequisito&>(*semBanco).Esquema(), "KW");
}

TEST(TkwObjDadosRequisito, TheReferenceGoesWithItsComponent) {
    auto banco = std::make_unique<rtl::Component>();
    banco->SetName("dmBanco");
    TkwObjDadosRequisito r;
    r.SetDatabase(banco.get());
    banco.reset();
    EXPECT_EQ(r.Database(), nullptr);
    EXPECT_EQ(Texto(r).find("Database"), std::string::npos);
}

TEST(TkwTransferenciaObjeto, DataRoundTripsExactly) {
    TkwTransferenciaObjeto o;
    o.SetName("Carga");
    o.SetDados(rtl::ByteArray{0x01, 0xAB, 0x00, 0xFF});
    const std::string texto = o.ParaTexto();
    EXPECT_EQ(texto,
              "object Carga: TkwTransferenciaObjeto\r\n"
              "  Data = {0400000001AB00FF}\r\n"
              "end\r\n");
    const auto lido = TkwTransferenciaObjeto::DeTexto(texto);
    EXPECT_EQ(lido->Name(), "Carga");
    EXPECT_EQ(lido->Dados(), o.Dados());
    EXPECT_EQ(lido->ParaTexto(), texto);

    // From 32 bytes on, the digits go on lines of their own, 32 bytes each.
    rtl::ByteArray muitos(40);
    for (size_t i = 0; i < muitos.size(); ++i)
        muitos[i] = uint8_t(i);
    o.SetDados(muitos);
    const std::string longo = o.ParaTexto();
    EXPECT_EQ(longo,
              "object Carga: TkwTransferenciaObjeto\r\n"
              "  Data = {\r\n"
              "    28000000000102030405060708090A0B0C0D0E0F101112131415161718191A1B\r\n"
              "    1C1D1E1F2021222324252627}\r\n"
              "end\r\n");
    EXPECT_EQ(TkwTransferenciaObjeto::DeTexto(longo)->Dados(), muitos);

    // Content without the leading count is taken whole; empty data is not stored.
    const auto semContagem = TkwTransferenciaObjeto::DeTexto("object TkwTransferenciaObjeto\r\n  Data = {0102}\r\nend\r\n");
    EXPECT_EQ(semContagem->Dados(), (rtl::ByteArray{0x01, 0x02}));
    o.SetDados(rtl::ByteArray{});
    EXPECT_EQ(o.ParaTexto(), "object Carga: TkwTransferenciaObjeto\r\nend\r\n");
}

TEST(TkwTransferenciaObjeto, OnValidarMayStopTheConversion) {
    struct Case {
        bool valido;
        std::string mensagem;
        bool falha;
    };
    const Case cases[] = {
        {true, "", false},
        {true, "aviso ignorado", false},
        {false, "  ", false},  // False with a blank message goes on
        {false, "", false},
        {false, " Dados incompletos ", true},
    };
    for (const Case& c : cases) {
        TkwTransferenciaObjeto o;
        int chamadas = 0;
        o.OnValidar = [&](TkwTransferenciaObjeto& sender, bool& valido, std::string& mensagem) {
            EXPECT_EQ(&sender, &o);
            EXPECT_TRUE(valido);  // starts True and empty
            EXPECT_EQ(mensagem, "");
            ++chamadas;
            valido = c.valido;
            mensagem = c.mensagem;
        };
        if (c.falha) {
            try {
                o.ParaTexto();
                ADD_FAILURE() << "no exception for " << c.mensagem;
            } catch (const EMsgDadosInvalidosParaTransferencia& e) {
                EXPECT_EQ(e.Message(), c.mensagem);  // untrimmed
                EXPECT_NE(dynamic_cast<const EMsgAvisoCliente*>(&e), nullptr);
            }
        } else {
            EXPECT_EQ(o.ParaTexto(), "object TkwTransferenciaObjeto\r\nend\r\n");
        }
        EXPECT_EQ(chamadas, 1);
    }
}

TEST(TkwTransferenciaObjeto, ReaderErrors) {
    const std::string requisicao = Texto(*Requisicao(1, 2, 3, "x"));
    // DeTexto of another class.
    EXPECT_THROW(TkwTransferenciaObjeto::DeTexto(requisicao), rtl::EInvalidCast);
    try {
        TkwTransferenciaObjeto::DeTexto(requisicao);
    } catch (const rtl::EInvalidCast& e) {
        EXPECT_EQ(e.Message(), "Invalid class typecast");
    }

    struct Case {
        const char* texto;
        const char* mensagem;
    };
    const Case cases[] = {
        {"object TkwDesconhecido\r\nend\r\n", "Class TkwDesconhecido not found"},
        {"object TkwObjDadosRequisito\r\n  Cor = 3\r\nend\r\n",
         "Error reading Cor: Property Cor does not exist"},
        {"object Req: TkwObjDadosRequisito\r\n  CdSistema = 'cinco'\r\nend\r\n",
         "Error reading Req.CdSistema: Invalid property value"},
        {"object TkwObjDadosRequisito\r\n  CdSistema = 2147483648\r\nend\r\n",
         "Error reading CdSistema: Invalid property value"},
        {"object TkwObjDadosRequisito\r\n  Endereco = 12\r\nend\r\n",
         "Error reading Endereco: Invalid property value"},
        {"object TkwObjDadosRequisito\r\n  CdSistema = 1.5\r\nend\r\n",
         "Error reading CdSistema: Invalid property value"},
        {"object TkwObjDadosRequisito\r\n  Endereco = 'aberto\r\nend\r\n",
         "Invalid string constant on line 2"},
        {"object TkwObjDadosRequisito\r\n  Endereco = 'a' +\r\n  end\r\n", "String expected on line 3"},
        {"object TkwObjDadosRequisito\r\n  CdSistema 1\r\nend\r\n", "'=' expected on line 2"},
        {"object TkwObjDadosRequisito\r\n  CdSistema = 1\r\n", "Identifier expected on line 3"},
        {"objeto TkwObjDadosRequisito\r\nend\r\n", "'object' expected on line 1"},
        {"object TkwObjDadosRequisito\r\nend\r\nend\r\n", "Text after 'end' on line 3"},
        {"object TkwTransferenciaObjeto\r\n  Data = {012}\r\nend\r\n", "Invalid binary value on line 2"},
        {"object TkwTransferenciaObjeto\r\n  Data = {01\r\n", "Invalid binary value on line 2"},
        {"object TkwObjDadosRequisito\r\n  object Filho: TkwObjDadosRequisito\r\n  end\r\nend\r\n",
         "Nested objects are not supported on line 2"},
        {"", "'object' expected on line 1"},
        // The field classes: Booleans and enumerations are identifiers of their own values.
        {"object Cd: TIntegerField\r\n  Required = Sim\r\nend\r\n",
         "Error reading Cd.Required: Invalid property value"},
        {"object TIntegerField\r\n  Required = 1\r\nend\r\n",
         "Error reading Required: Invalid property value"},
        {"object TStringField\r\n  FieldKind = fkNenhum\r\nend\r\n",
         "Error reading FieldKind: Invalid property value"},
        {"object TStringField\r\n  FieldKind = 'fkData'\r\nend\r\n",
         "Error reading FieldKind: Invalid property value"},
        {"object TStringField\r\n  Size = True\r\nend\r\n", "Error reading Size: Invalid property value"},
        {"object TIntegerField\r\n  Size = 4\r\nend\r\n", "Error reading Size: Property Size does not exist"},
        {"object TStringField\r\n  MaxValue = 1.5\r\nend\r\n",
         "Error reading MaxValue: Property MaxValue does not exist"},
        // Edit masks are published on text and date-time fields only.
        {"object TIntegerField\r\n  EditMask = '999'\r\nend\r\n",
         "Error reading EditMask: Property EditMask does not exist"},
        // Float limits: a double's range, and the float grammar.
        {"object Vl: TFloatField\r\n  MaxValue = 1e999\r\nend\r\n",
         "Error reading Vl.MaxValue: Invalid property value"},
        {"object TBCDField\r\n  MinValue = -1.8e308\r\nend\r\n",
         "Error reading MinValue: Invalid property value"},
        {"object TCurrencyField\r\n  MinValue = 1e-99999999999999999999\r\nend\r\n",
         "Error reading MinValue: Invalid property value"},
        {"object TFloatField\r\n  MaxValue = 1e\r\nend\r\n", "Invalid floating-point number on line 2"},
        {"object TFloatField\r\n  MaxValue = '10'\r\nend\r\n",
         "Error reading MaxValue: Invalid property value"},
        {"object TIntegerField\r\n  MaxValue = 1.5\r\nend\r\n",
         "Error reading MaxValue: Invalid property value"},
        // Provider flags: a set of its four identifiers.
        {"object TIntegerField\r\n  ProviderFlags = [pfInKey\r\nend\r\n", "',' expected on line 3"},
        {"object Cd: TIntegerField\r\n  ProviderFlags = [pfNope]\r\nend\r\n",
         "Error reading Cd.ProviderFlags: Invalid property value"},
        {"object TIntegerField\r\n  ProviderFlags = [[pfInKey]]\r\nend\r\n", "Identifier expected on line 2"},
        // The error names the property as the text spells it.
        {"object TIntegerField\r\n  providerflags = [PFINKEY, pfnope]\r\nend\r\n",
         "Error reading providerflags: Invalid property value"},
        {"object TIntegerField\r\n  ProviderFlags = pfInKey\r\nend\r\n",
         "Error reading ProviderFlags: Invalid property value"},
        {"object TIntegerField\r\n  ProviderFlags = [taCenter]\r\nend\r\n",
         "Error reading ProviderFlags: Invalid property value"},
        {"object TStringField\r\n  Alignment = taJustify\r\nend\r\n",
         "Error reading Alignment: Invalid property value"},
        {"object TStringField\r\n  Alignment = [taCenter]\r\nend\r\n",
         "Error reading Alignment: Invalid property value"},
        {"object TStringField\r\n  LookupCache = 1\r\nend\r\n",
         "Error reading LookupCache: Invalid property value"},
        {"object TStringField\r\n  DisplayWidth = 'dez'\r\nend\r\n",
         "Error reading DisplayWidth: Invalid property value"},
        // The shared ancestors are not registered: no text creates one.
        {"object TField\r\nend\r\n", "Class TField not found"},
        {"object TNumericField\r\nend\r\n", "Class TNumericField not found"},
    };
    for (const Case& c : cases) {
        try {
            TkwTransferenciaObjeto::TextoParaObjeto(c.texto);
            ADD_FAILURE() << "no error for: " << c.texto;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), c.mensagem) << c.texto;
        }
    }
}

TEST(TkwTransferenciaObjeto, TheReaderTakesWhatAnotherWriterMayUse) {
    // "$" hexadecimal, "''" inside a run, "#$" codes, LF line ends, "+" anywhere, any case.
    const auto lido = TkwTransferenciaObjeto::TextoParaObjeto(
        "OBJECT Pedido: tkwobjdadosrequisito\n"
        "  cdsistema = $1F\n"
        "  CdSistemaGenerico = -4\n"
        "  Endereco = 'it''s' + #$41#66 +\n"
        "     'é'\n"
        "END\n");
    const auto& r = dynamic_cast<const TkwObjDadosRequisito&>(*lido);
    EXPECT_EQ(r.Name(), "Pedido");
    EXPECT_EQ(r.CdSistema(), 31);
    EXPECT_EQ(r.CdSistemaGenerico(), -4);
    EXPECT_EQ(r.Endereco(), "it'sABé");
}

TEST(TkwTransferenciaObjeto, FieldClassesReadBackAndWriteTheSameText) {
    struct Case {
        const char* name;
        const char* classe;
        rtl::TFieldType tipo;
        std::string texto;
        std::function<void(const rtl::TFieldComponent&)> check;
    };
    const Case cases[] = {
        {"integer", "TIntegerField", rtl::ftInteger,
         "object CdSistema: TIntegerField\r\n"
         "  DisplayLabel = 'Código do sistema'\r\n"
         "  FieldName = 'CDSISTEMA'\r\n"
         "  Required = True\r\n"
         "  MaxValue = 9999\r\n"
         "  MinValue = -1\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             const auto& i = dynamic_cast<const rtl::TIntegerField&>(f);
             EXPECT_EQ(i.Name(), "CdSistema");
             EXPECT_EQ(i.DisplayLabel(), "Código do sistema");
             EXPECT_TRUE(i.Required());
             EXPECT_FALSE(i.ReadOnly());
             EXPECT_EQ(i.MaxValue(), 9999);
             EXPECT_EQ(i.MinValue(), -1);
         }},
        {"text", "TStringField", rtl::ftString,
         "object TStringField\r\n"
         "  FieldName = 'NMOBJETO'\r\n"
         "  ReadOnly = True\r\n"
         "  Visible = False\r\n"
         "  FixedChar = True\r\n"
         "  Size = 255\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             const auto& t = dynamic_cast<const rtl::TStringField&>(f);
             EXPECT_EQ(t.FieldName(), "NMOBJETO");
             EXPECT_TRUE(t.ReadOnly());
             EXPECT_FALSE(t.Visible());
             EXPECT_TRUE(t.FixedChar());
             EXPECT_EQ(t.Size(), 255);
         }},
        {"text, a lookup", "TStringField", rtl::ftString,
         "object NmSistema: TStringField\r\n"
         "  FieldKind = fkLookup\r\n"
         "  FieldName = 'NMSISTEMA'\r\n"
         "  LookupKeyFields = 'CDSISTEMA'\r\n"
         "  LookupResultField = 'NMSISTEMA'\r\n"
         "  KeyFields = 'CDSISTEMA'\r\n"
         "  Size = 40\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             EXPECT_EQ(f.FieldKind(), rtl::fkLookup);
             EXPECT_EQ(f.KeyFields(), "CDSISTEMA");
             EXPECT_EQ(dynamic_cast<const rtl::TStringField&>(f).Size(), 40);
         }},
        // Every property at its default: nothing but the header.
        {"text, all defaults", "TStringField", rtl::ftString, "object TStringField\r\nend\r\n",
         [](const rtl::TFieldComponent& f) {
             EXPECT_EQ(dynamic_cast<const rtl::TStringField&>(f).Size(), 20);
             EXPECT_TRUE(f.Visible());
             EXPECT_EQ(f.FieldKind(), rtl::fkData);
         }},
        {"floating-point", "TFloatField", rtl::ftFloat,
         "object TFloatField\r\n"
         "  FieldName = 'NUTAMANHO'\r\n"
         "  DisplayFormat = '#,##0.00'\r\n"
         "  Currency = True\r\n"
         "  Precision = 10\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             const auto& n = dynamic_cast<const rtl::TFloatField&>(f);
             EXPECT_EQ(n.DisplayFormat(), "#,##0.00");
             EXPECT_TRUE(n.Currency());
             EXPECT_EQ(n.Precision(), 10);
         }},
        {"date-time", "TDateTimeField", rtl::ftDateTime,
         "object TDateTimeField\r\n"
         "  DefaultExpression = 'SYSDATE'\r\n"
         "  FieldName = 'DTHRATUALIZACAO'\r\n"
         "  Origin = 'EPADLOCALUPDATE.DTHRATUALIZACAO'\r\n"
         "  DisplayFormat = 'dd/mm/yyyy hh:nn:ss'\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             EXPECT_EQ(f.DefaultExpression(), "SYSDATE");
             EXPECT_EQ(f.Origin(), "EPADLOCALUPDATE.DTHRATUALIZACAO");
             EXPECT_EQ(dynamic_cast<const rtl::TDateTimeField&>(f).DisplayFormat(), "dd/mm/yyyy hh:nn:ss");
         }},
        {"numeric", "TBCDField", rtl::ftBCD,
         "object TBCDField\r\n"
         "  FieldName = 'VLCUSTO'\r\n"
         "  Precision = 12\r\n"
         "  Size = 2\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             const auto& b = dynamic_cast<const rtl::TBCDField&>(f);
             EXPECT_FALSE(b.Currency());
             EXPECT_EQ(b.Precision(), 12);
             EXPECT_EQ(b.Size(), 2);
         }},
        // A currency field is money unless the text says otherwise, and only then is it written.
        {"currency", "TCurrencyField", rtl::ftCurrency,
         "object TCurrencyField\r\n  FieldName = 'VLPRECO'\r\nend\r\n",
         [](const rtl::TFieldComponent& f) {
             EXPECT_TRUE(dynamic_cast<const rtl::TCurrencyField&>(f).Currency());
             EXPECT_EQ(dynamic_cast<const rtl::TFloatField&>(f).Precision(), 15);
         }},
        {"currency, not money", "TCurrencyField", rtl::ftCurrency,
         "object TCurrencyField\r\n  FieldName = 'VLPRECO'\r\n  Currency = False\r\nend\r\n",
         [](const rtl::TFieldComponent& f) {
             EXPECT_FALSE(dynamic_cast<const rtl::TCurrencyField&>(f).Currency());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<rtl::Component> lido = TkwTransferenciaObjeto::TextoParaObjeto(c.texto);
        const auto* campo = dynamic_cast<const rtl::TFieldComponent*>(lido.get());
        ASSERT_NE(campo, nullptr);
        EXPECT_EQ(campo->ClassType().Name(), c.classe);
        EXPECT_EQ(campo->DataType(), c.tipo);
        c.check(*campo);
        EXPECT_EQ(Texto(*campo), c.texto);
    }
    // Identifiers are read in any case and written as declared.
    const auto lido = TkwTransferenciaObjeto::TextoParaObjeto(
        "object tintegerfield\n  required = TRUE\n  fieldkind = FKCALCULATED\nend\n");
    EXPECT_EQ(Texto(*lido),
              "object TIntegerField\r\n  FieldKind = fkCalculated\r\n  Required = True\r\nend\r\n");
}

// Every published property of each field class set away from its default: the text reads into
// the field and is written again byte for byte.
TEST(TkwTransferenciaObjeto, FieldClassesCarryEveryPublishedProperty) {
    struct Case {
        const char* name;
        std::string texto;
        std::function<void(const rtl::TFieldComponent&)> check;
    };
    const Case cases[] = {
        {"integer",
         "object CdSistema: TIntegerField\r\n"
         "  Alignment = taCenter\r\n"
         "  CustomConstraint = 'CDSISTEMA > 0'\r\n"
         "  ConstraintErrorMessage = 'Código inválido'\r\n"
         "  DefaultExpression = '1'\r\n"
         "  DisplayLabel = 'Código'\r\n"
         "  DisplayWidth = 6\r\n"
         "  FieldName = 'CDSISTEMA'\r\n"
         "  ImportedConstraint = '(CDSISTEMA IS NOT NULL)'\r\n"
         "  Origin = 'EPADLOCALUPDATE.CDSISTEMA'\r\n"
         "  ProviderFlags = [pfInUpdate, pfInWhere, pfInKey]\r\n"
         "  Required = True\r\n"
         "  DisplayFormat = '000'\r\n"
         "  EditFormat = '0'\r\n"
         "  MaxValue = 9999\r\n"
         "  MinValue = 1\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             EXPECT_EQ(f.Alignment(), rtl::taCenter);
             EXPECT_EQ(f.CustomConstraint(), "CDSISTEMA > 0");
             EXPECT_EQ(f.ConstraintErrorMessage(), "Código inválido");
             EXPECT_EQ(f.DisplayWidth(), 6);
             EXPECT_EQ(f.ImportedConstraint(), "(CDSISTEMA IS NOT NULL)");
             EXPECT_EQ(f.ProviderFlags(),
                       (rtl::TProviderFlags{rtl::pfInUpdate, rtl::pfInWhere, rtl::pfInKey}));
             EXPECT_FALSE(f.LookupCache());
             EXPECT_EQ(dynamic_cast<const rtl::TIntegerField&>(f).MinValue(), 1);
         }},
        {"text, a cached lookup",
         "object NmSistema: TStringField\r\n"
         "  Alignment = taRightJustify\r\n"
         "  DisplayWidth = 30\r\n"
         "  FieldKind = fkLookup\r\n"
         "  FieldName = 'NMSISTEMA'\r\n"
         "  LookupKeyFields = 'CDSISTEMA'\r\n"
         "  LookupResultField = 'NMSISTEMA'\r\n"
         "  KeyFields = 'CDSISTEMA'\r\n"
         "  LookupCache = True\r\n"
         "  ProviderFlags = []\r\n"
         "  Visible = False\r\n"
         "  EditMask = '>LL;1;_'\r\n"
         "  Size = 40\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             EXPECT_EQ(f.Alignment(), rtl::taRightJustify);
             EXPECT_TRUE(f.LookupCache());
             EXPECT_TRUE(f.ProviderFlags().Empty());
             EXPECT_EQ(dynamic_cast<const rtl::TStringField&>(f).EditMask(), ">LL;1;_");
         }},
        // A numeric field written left-justified: its default is the right.
        {"floating-point",
         "object TFloatField\r\n"
         "  Alignment = taLeftJustify\r\n"
         "  FieldName = 'NUTAMANHO'\r\n"
         "  ProviderFlags = [pfHidden]\r\n"
         "  Currency = True\r\n"
         "  MaxValue = 1000000.5\r\n"
         "  MinValue = -0.01\r\n"
         "  Precision = 10\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             const auto& n = dynamic_cast<const rtl::TFloatField&>(f);
             EXPECT_EQ(n.Alignment(), rtl::taLeftJustify);
             EXPECT_EQ(n.ProviderFlags(), rtl::TProviderFlags{rtl::pfHidden});
             EXPECT_EQ(n.MaxValue(), 1000000.5);
             EXPECT_EQ(n.MinValue(), -0.01);
         }},
        {"floating-point, limits past the plain notation",
         "object TFloatField\r\n"
         "  MaxValue = 1.5E300\r\n"
         "  MinValue = -2.5E-7\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             const auto& n = dynamic_cast<const rtl::TFloatField&>(f);
             EXPECT_EQ(n.MaxValue(), 1.5e300);
             EXPECT_EQ(n.MinValue(), -2.5e-7);
         }},
        {"currency",
         "object VlPreco: TCurrencyField\r\n"
         "  FieldName = 'VLPRECO'\r\n"
         "  ProviderFlags = [pfInUpdate]\r\n"
         "  MaxValue = 99999999.99\r\n"
         "  MinValue = 0.01\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             const auto& n = dynamic_cast<const rtl::TCurrencyField&>(f);
             EXPECT_TRUE(n.Currency());
             EXPECT_EQ(n.Alignment(), rtl::taRightJustify);
             EXPECT_EQ(n.MaxValue(), 99999999.99);
             EXPECT_EQ(n.MinValue(), 0.01);
         }},
        {"numeric",
         "object TBCDField\r\n"
         "  DisplayWidth = 18\r\n"
         "  FieldName = 'VLCUSTO'\r\n"
         "  ImportedConstraint = 'VLCUSTO >= 0'\r\n"
         "  ProviderFlags = [pfInWhere, pfInKey, pfHidden]\r\n"
         "  Currency = True\r\n"
         "  MaxValue = 9999999999.9999\r\n"
         "  MinValue = -9999999999.9999\r\n"
         "  Precision = 14\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             const auto& b = dynamic_cast<const rtl::TBCDField&>(f);
             EXPECT_EQ(b.MaxValue(), 9999999999.9999);
             EXPECT_EQ(b.MinValue(), -9999999999.9999);
             EXPECT_EQ(b.Size(), 4);
             EXPECT_FALSE(b.ProviderFlags().Contains(rtl::pfInUpdate));
         }},
        {"date-time",
         "object DtHrAtualizacao: TDateTimeField\r\n"
         "  Alignment = taCenter\r\n"
         "  CustomConstraint = 'DTHRATUALIZACAO IS NOT NULL'\r\n"
         "  ConstraintErrorMessage = 'Informe a data'\r\n"
         "  FieldName = 'DTHRATUALIZACAO'\r\n"
         "  ProviderFlags = [pfInWhere]\r\n"
         "  ReadOnly = True\r\n"
         "  DisplayFormat = 'dd/mm/yyyy'\r\n"
         "  EditMask = '!99/99/0000;1;_'\r\n"
         "end\r\n",
         [](const rtl::TFieldComponent& f) {
             EXPECT_EQ(f.Alignment(), rtl::taCenter);
             EXPECT_EQ(dynamic_cast<const rtl::TDateTimeField&>(f).EditMask(), "!99/99/0000;1;_");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<rtl::Component> lido = TkwTransferenciaObjeto::TextoParaObjeto(c.texto);
        const auto* campo = dynamic_cast<const rtl::TFieldComponent*>(lido.get());
        ASSERT_NE(campo, nullptr);
        c.check(*campo);
        EXPECT_EQ(Texto(*campo), c.texto);
    }

    // Read as another writer may give them: any case and order, an integer limit, a fixed-point
    // limit with trailing zeros; written in the one form.
    const auto lido = TkwTransferenciaObjeto::TextoParaObjeto(
        "object tfloatfield\n"
        "  providerflags = [PFINKEY, pfinwhere]\n"
        "  alignment = TACENTER\n"
        "  maxvalue = 100.000000000000000000\n"
        "  minvalue = -5\n"
        "end\n");
    EXPECT_EQ(Texto(*lido),
              "object TFloatField\r\n"
              "  Alignment = taCenter\r\n"
              "  ProviderFlags = [pfInWhere, pfInKey]\r\n"
              "  MaxValue = 100\r\n"
              "  MinValue = -5\r\n"
              "end\r\n");
}

// A field whose every property is at its default is its header alone, and the header alone
// reads into a field with those defaults.
TEST(TkwTransferenciaObjeto, FieldClassesAtTheirDefaultsAreTheirHeader) {
    struct Case {
        const char* classe;
        rtl::TAlignment alinhamento;
    };
    const Case cases[] = {
        {"TIntegerField", rtl::taRightJustify}, {"TStringField", rtl::taLeftJustify},
        {"TFloatField", rtl::taRightJustify},   {"TCurrencyField", rtl::taRightJustify},
        {"TBCDField", rtl::taRightJustify},     {"TDateTimeField", rtl::taLeftJustify},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.classe);
        const std::string cabecalho = std::string("object ") + c.classe + "\r\nend\r\n";
        const std::unique_ptr<rtl::Component> novo = rtl::GetClass(c.classe).Create();
        EXPECT_EQ(Texto(*novo), cabecalho);
        const std::unique_ptr<rtl::Component> lido = TkwTransferenciaObjeto::TextoParaObjeto(cabecalho);
        const auto& f = dynamic_cast<const rtl::TFieldComponent&>(*lido);
        EXPECT_EQ(f.Alignment(), c.alinhamento);
        EXPECT_EQ(f.ProviderFlags(), (rtl::TProviderFlags{rtl::pfInUpdate, rtl::pfInWhere}));
        EXPECT_EQ(f.DisplayWidth(), 0);
        EXPECT_FALSE(f.LookupCache());
        EXPECT_EQ(f.CustomConstraint(), "");
        EXPECT_EQ(Texto(f), cabecalho);
        if (const auto* n = dynamic_cast<const rtl::TFloatField*>(&f)) {
            EXPECT_EQ(n->MaxValue(), 0.0);
            EXPECT_EQ(n->MinValue(), 0.0);
        }
        if (const auto* b = dynamic_cast<const rtl::TBCDField*>(&f)) {
            EXPECT_EQ(b->MaxValue(), 0.0);
            EXPECT_EQ(b->MinValue(), 0.0);
        }
    }
    // Set to their defaults again, the properties still write nothing: equal to the default is
    // not stored, however the value came.
    rtl::TFloatField f;
    f.SetAlignment(rtl::taLeftJustify);
    f.SetAlignment(rtl::taRightJustify);
    f.SetProviderFlags({rtl::pfInWhere, rtl::pfInUpdate});
    f.SetMaxValue(-0.0);
    EXPECT_EQ(Texto(f), "object TFloatField\r\nend\r\n");
    // A limit that is no number cannot be written.
    f.SetMinValue(std::numeric_limits<double>::quiet_NaN());
    EXPECT_THROW(Texto(f), rtl::EWriteError);
}

TEST(TOleVariantStream, IsAMemoryStream) {
    TOleVariantStream s;
    s.WriteBuffer("abc");
    EXPECT_EQ(s.Data(), "abc");
}

}  // namespace
