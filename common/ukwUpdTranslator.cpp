// common/ukwUpdTranslator.cpp: the message catalogue's texts and its language choice.
#include "common/ukwUpdTranslator.h"

#include <atomic>
#include <mutex>

#include "common/ukwUpdIni.h"
#include "common/ukwUpdUtil.h"
#include "rtl/IniFile.h"

namespace {

struct Mensagem {
    int numero;
    std::string_view portugues;
    std::string_view espanhol;
};

// In order of number, so the table's index is the number minus 1. \r\n are the CR LF the
// texts show as line breaks.
constexpr Mensagem kCatalogo[] = {
    {1, "O número de campos é diferente do número de valores. Campos = %d - Valores = %d.",
     " La cantidad de campos es diferente del numero de valores. Campos = %d - Valores = %d."},
    {2, "Iniciando a atualização do sistema. Aguarde...",
     " Empezando la actualización del sistema. Aguarde."},
    {3, "(%d de %d)", "(%d de %d)"},
    {4, "Deseja realmente cancelar a atualização do sistema?",
     "¿Usted esta seguro que desea cancelar la actualización del sistema?"},
    {5, "Detalhes <<", "Detalles <<"},
    {6, "Detalhes >>", "Detalles >>"},
    {7, "&Cancelar", "&Cancelar"},
    {8, "Progresso do item :", "Avance del renglón :"},
    {9, "Progresso total :", "Avance total:"},
    {10, "Erro ao excluir o arquivo \"%s\". Mensagem de erro: %s",
     " Error al borrar lo archivo \"%s\". Mensaje de error: %s"},
    {11, "Erro ao tirar o read-only do arquivo \"%s\". Mensagem de erro: %s",
     " Error al cambiar la propriedad \"solamente lectura\" del archivo \"%s\". Mensaje de error: %s"},
    {12, "Erro ao copiar o arquivo \"%s\" para \"%s\". Mensagem de erro: %s",
     " Error al hacer la copia del archivo \"%s\" para lo archivo \"%s\". Mensaje de error: %s"},
    {13, "Erro ao renomear o arquivo \"%s\" para \"%s\". Mensagem de erro: %s",
     "Error al ententar cambiar lo nombre del archivo \"%s\" para \"%s\". Mensaje de error: %s"},
    {14, "Erro ao criar o diretório \"%s\". Mensagem de erro: %s",
     " Error al ententar crear la carpeta \"%s\". Mensajem de error: %s"},
    {15, "Erro não tratado.\r\nMensagem original do servidor: \"%s\"",
     "Error no manejado.\r\n Mensaje original del servidor: \"%s\""},
    {16, "Erro inesperado: %s", "Error inesperado: %s"},
    {17, "O arquivo \"%s\" não pode ser encontrado no servidor.",
     "Lo archivo \"%s\"  no fué encontrado en lo servidor."},
    {18,
     "Não foi possível conectar-se com o servidor de FTP: %s\r\nMensagem traduzida: \"%s\"\r\nMensagem "
     "original do servidor: \"%s\"",
     "No fué posible conectarse al servidor del FTP de FTP: %s\r\nMensagem traduzida: \"%s\"\r\nMensaje "
     "traducida: Mensaje original del servidor. \"%s\""},
    {19,
     "Não foi possível conectar-se com o servidor de FTP: %s\r\nProvável causa: Número máximo de conexões ao "
     "servidor alcançado.\r\nMensagem original do servidor: \"%s\"",
     " No fué posible conectarse al servidor del FTP de FTP: %s\r\n Causa probable : Numero límite de "
     "conexiones alcanzado.\r\n Mesaje original del servidor: \"%s\""},
    {20,
     "Não foi possível conectar-se com o servidor de FTP: %s\r\nProvável causa : Usuário ou senha "
     "inválida.\r\nMensagem original do servidor: \"%s\"",
     " No fué posible conectarse al servidor del FTP: %s\r\n Causa probable : usuario o contraseña "
     "invalidos.\r\n Mesaje original del servidor.  \"%s\""},
    {21,
     "Não foi possível conectar-se com o servidor de FTP: %s\r\nMensagem traduzida: \"%s\"\r\nMensagem "
     "original do servidor: \"%s\"",
     " No fué posible conectarse al servidordel FTP: %s\r\nMensagem traduzida: \"%s\"\r\n Mensaje traducida. "
     "Mesaje original del servidor.\"%s\""},
    {22,
     "Erro ao mudar o diretório no servidor de FTP para: \"%s\"\r\nProvável causa: Diretório não existe no "
     "servidor.\r\nMensagem original do servidor: \"%s\"",
     " Error al cambiar la carpeta en lo servidor del FTP para: \"%s\"\r\n Causa probable : Carpeta no "
     "existe en lo servidor.\r\n Mesaje original del servidor. \"%s\""},
    {23, "Erro ao mudar o diretório no servidor de FTP para: \"%s\"\r\nMensagem original do servidor: \"%s\"",
     " Error al cambiar la carpeta en lo servidor del FTP para: \"%s\"\r\n Mesaje original del servidor. "
     "\"%s\""},
    {24,
     "Erro ao transferir o arquivo: \"%s\"\r\nMensagem traduzida: \"%s\"\r\nMensagem original do "
     "servidor:\"%s\"",
     "Error al bajar lo archivo: \"%s\"\r\n Mensaje traducida: \"%s\"\r\n Mesaje original del "
     "servidor.\"%s\""},
    {25, "Erro ao transferir o arquivo: \"%s\"\r\nMensagem original do servidor: \"%s\"",
     " Error al bajar lo archivo: \"%s\"\r\n Mesaje original del servidor: \"%s\""},
    {26,
     "Erro ao transferir o arquivo: \"%s\"\r\nMensagem traduzida: \"Conexão terminada pelo servidor de "
     "FTP.\"\r\nMensagem original do servidor: \"%s\"",
     " Error al bajar lo archivo: \"%s\"\r\n Mesaje traducida: \" Conexión cerrada por lo servidor del "
     "FTP.\"\r\n Mesaje original del servidor. \"%s\""},
    {27,
     "Erro ao transferir o arquivo: \"%s\"\r\nMensagem traduzida: \"Espaço insuficiente no disco local para "
     "copiar o arquivo.\"\r\nMensagem original do servidor: \"%s\"",
     " Error al bajar lo archivo \"%s\"\r\n Mesaje traducida: espacio insuficiente en lo disco duro local "
     "para hacer la copia del archivo.\"\r\n Mesaje original del servidor. \"%s\""},
    {28, "Tempo restante: %s", "Tiempo restante: %s"},
    {29, "Taxa de transf.: %s; %s", "Tasa de transf.: %s; %s"},
    {30, "Erro ao executar o arquivo \"%s\". Causa: %s",
     " Error al ententar ejecutar lo archivo \"%s\". Causa: %s"},
    {31, "O formato da versão \"%s\" é inválido. O formato deve ser \"NN.NN.NN-NN\".",
     " La formatación del numero de la versión \"%s\" es invalido  Lo correcto es \"NN.NN.NN-NN\"."},
    {32, "Não foi possível atualizar \"%s\". Motivo: %s", "No fué posible actualizar \"%s\". Causa: %s"},
    {33, "Arquivo \"%s\" não está íntegro. Não é possível completar a atualização do sistema.",
     "Lo archivo \"%s\" esta dañado. No es posible finalizar la actualización del sistema."},
    {34, "CdSistema é inválido. Esperado um número inteiro. Valor informado: \"%s\".",
     "CdSistema es invalido. Es esperado un numero decimal. Valor informado: \"%s\"."},
    {35, "Não foi possível remover \"%s\"", " No fué posible quitar \"%s\""},
    {36, "Não foi possível executar \"%s\"", " No fué posible ejecutar \"%s\""},
    {37, "Não foi possível atualizar \"%s\" a partir de \"%s\"\r\n%s",
     " No fué posible actualizar \"%s\" del \"%s\"\r\n%s"},
    {38, "Não foi possível copiar o ZIP \"%s\" a partir de \"%s\"",
     " No fué posible generar el ZIP \"%s\" del \"%s\""},
    {39, "Não foi possível copiar \"%s\" a partir de \"%s\"\r\n%s",
     " No fué posible hacer la copia de \"%s\" hasta \"%s\"\r\n%s"},
    {40, "Erro ao atualizar o sistema.\r\nFavor entrar em contato com o administrador do sistema.",
     " Error al actualizar lo sistema.\r\n Favor contactar lo adminstrador del sistema."},
    {41, "", ""},
    {42, "Atualizando: %s...", "Actualizando: %s..."},
    {43,
     "Não foi possível reiniciar o seu computador automaticamente. Para completar a atualização do "
     "\"%s\",feche todos os aplicativos abertos e reinicie o seu computador.",
     " No fué posible reiniciarla computadora de forma automatica. Para completar la actualización del "
     "\"%s\", cierre todos los aplicativos en ejecución y reinicie su computadora."},
    {44,
     "ATENÇÃO: A atualização do \"%s\" necessita reiniciar o seu computador.\r\rFeche todos os programas "
     "abertos e clique no botão OK para reiniciar o seu computador agora.",
     " ATENCIÓN: La actualización del \"%s\"  necesita reiniciar la computadora. \r\r Cierre todos los "
     "aplicativos abiertos e acione lo botón OK  para reiniciar la computadora a hora."},
    {45, "Não foi possível extrair o arquivo ZIP \"%s\" para \"%s\". Mensagem de erro: %s",
     " No fué posible descomprimir lo archivo ZIP \"%s\" para \"%s\". Mensajem de error: %s"},
    {46,
     "Não foi possível conectar-se no servidor de aplicação.\r\n - Servidor: \"%s\"\r\n - GUID: \"%s\"\r\n",
     " No fué posible conectarse al servidor de aplicación.\r\n - Servidor: \"%s\"\r\n - GUID: \"%s\"\r\n"},
    {47, " - Endereco: \"%s\"\r\n", " - Dirección: \"%s\"\r\n"},
    {48, " - Computador: \"%s\"\r\n", " - Computadora: \"%s\"\r\n"},
    {49, " - Mensagem: \"%s\"", " - Mensaje: \"%s\""},
    {50,
     "Não foi possível efetuar a conexão com o banco de dados. Possíveis causas: banco de dados fora do ar, "
     "configuração incorreta do cliente de banco de dados, da BDE ou do arquivo de configuração "
     "\"kwCfg.ini\".\n\r\n\rMensagem original: \"%s\"",
     " No fue posible hacer la conección con la base de datos.  Causas posibles: Base de datos no esta en "
     "línea, configuración con error en lo cliente de la base de datos, en la BDE o en lo archivo de "
     "configuración \"kwCfg.ini\".\n\r\n\rMensaje original: \"%s\""},
    {51, "Banco de dados em manutenção. Mensagem: \"%s\"",
     " Base de datos en mantenimiento. Mensaje: \"%s\""},
    {52,
     "Não foi possível efetuar a conexão com o banco de dados. Possíveis causas: banco de dados fora do ar, "
     "configuração incorreta do cliente de banco de dados, da BDE ou do arquivo de configuração kwCfg.ini. "
     "Alias: \"%s\"",
     " No fue posible hacer la conección con la base de datos.  Causas posibles: Base de datos no esta en "
     "línea, configuración con error en lo cliente de la base de datos, en la BDE o en  lo archivo de "
     "configuración kwCfg.ini. Alias: \"%s\""},
    {53,
     "O arquivo de configuração \"kwCfg.ini\" do servidor de aplicação não foi encontrado ou está "
     "incorretamente configurado.",
     " Lo archivo de configuración \"kwCfg.ini\" del servidor de aplicación no fué encontrado o esta "
     "configurado con error. "},
    {54,
     "O sistema tentou conectar ao banco de dados de alias \"%s\" mas ele não está registrado na BDE. Entre "
     "em contato com o suporte para registrar o alias na BDE e verificar no kwCfg.ini se a configuração para "
     "o Alias na sessão [Database] também está correta.",
     "El sistema intentó conectarse a siguiente base de datos \"%s\" pero ella no está registrada en la BDE. "
     "Entre en contacto con lo suporte para registrarla correctamente y verificar en lo archivo kwCfg.ini se "
     "la configuración para lo acceso a la base de datos en [Database] también está correcto."},
    {55,
     "O sistema tentou conectar ao banco de dados com o alias \"%s\" mas ele não está catalogado no client "
     "do DB2. Entre em contato com o suporte para catalogar o alias no client do DB2.",
     "El sistema intentó conectarse a siguiente base de datos \"%s\" pero ella no está registrada en client "
     "DB2.  Entre en contacto con lo suporte para registrarla correctamente."},
    {56,
     "O computador que possui o servidor de banco de dados está desligado ou não pode ser alcançado por "
     "problemas de rede (alias do banco e nome do computador: \"%s\"). Entre em contato com o suporte para "
     "verificar o problema.",
     "Lo servidor donde se encuentra la base de datos está apagado o no pode ser alcanzado por problemas de "
     "red (Base de datos y nombre de la computadora: \"%s\"). Entre en contacto con lo suporte para buscar "
     "lo problema."},
    {57, "Erro ao acessar o servivor de aplicação. Mensagem de erro: \"%s\"",
     "Error al conectar lo servidor de aplicación. Mensaje de error: \"%s\""},
    {58, "Local de update é inválido. Esperado um número inteiro. Valor informado: \"%s\".",
     "la ubicación para hacer la actualización es inválido. Esperado un número decimal. Valor informado: "
     "\"%s\"."},
    {59, "CdSistema é inválido. Esperado um número inteiro. Valor informado: \"%s\".",
     "CdSistema es inválido. Esperado un número decimal. Valor informado: \"%s\"."},
    {60,
     "O Alias para conexão com o banco de dados não foi informado. Verifique se o arquivo \"kwCFG.ini\" foi "
     "configurado corretamente.",
     "Lo Alias para la conexión con la base de datos no fue informado. Verifique se lo archivo \"kwCFG.ini\" "
     "fue configurado correctamente."},
    {61, "Alias não cadastradado na BDE.", "Alias no registrado en la BDE."},
    {62, "Usuário ou senha inválidos", "Usuario o contraseña inválidos"},
    {63, "Usuário ou senha inválidos ou o banco de dados não está ativo",
     "Usuario o contraseña inválidos o base de datos no activa"},
    {64, "Alias não está configurado corretamente ou o banco de dados não está ativo",
     "Lo Alias no está configurado correctamente o la base de datos no está activa"},
    {65,
     "Possíveis causas:\r\n - Usuário ou senha de conexão incorretos.\r\n - Configuração incorreta do "
     "kwCFG.ini.\r\n - Configuração incorreta do alias na BDE.\r\n - Configuração incorreta do client de "
     "banco de dados.\r\n - Banco de dados não está ativo.\r\nMensagem de erro original: \"%s\"",
     "Posibles causas:\r\n - Usuario o contraseña para conexión incorrectos.\r\n - Configuración incorrecta "
     "del archivo kwCFG.ini.\r\n - Configuración incorrecta del Alias y o BDE.\r\n - Configuración "
     "incorrecta del cliente de la base de datos.\r\n - Base de datos no está activa.\r\nMensaje de error "
     "original: \"%s\""},
    {66, "Erro ao conectar com o banco de dados. %s. Alias: \"%s\".",
     "Error al conectarse con la base de datos. %s. Alias: \"%s\"."},
    {67, "Erro ao acessar o banco de dados. Mensagem de erro: \"%s\".",
     "Error al conectarse con la base de datos. Mensaje de error: \"%s\"."},
    {68, "Erro ao acessar o servidor de aplicação. Causa: TimeOut. Tempo: %d segundos.",
     "Error al conectarse con lo servidor de aplicación. Causa: TimeOut. Tiempo: %d segundos."},
    {69, "Erro ao acessar o servidor de aplicação. Mensagem de erro: \"%s\".",
     "Error al conectarse con lo servidor de aplicación. Mensaje de error: \"%s\"."},
    {70,
     "Não foi possível executar a atualização pois o sistema detectou que já existe uma atualização em "
     "andamento.",
     "No fue posible ejecutar la actualización porque lo sistema detectó que ya existe una actualización en "
     "marcha."},
    {71, "Não foi possível executar a atualização pois ocorreu um erro ao executar o kwExec. Causa: \"%s\".",
     "No fue posible ejecutar la actualización porque ocurrió un error al ejecutar lo kwExec. Causa: "
     "\"%s\"."},
    {72, "Não foi possível executar o sistema. Causa: \"%s\".",
     "No fue posible ejecutar lo sistema. Causa: \"%s\"."},
    {73, "Houve um erro durante o carregamento do sistema. Causa: \"%s\"",
     "Hube un error durante la carga del sistema. Causa: \"%s\""},
    {74, "O arquivo \"%s\" não existe.", "Lo archivo \"%s\" no existe."},
    {75, "O código do sistema está vazio. Verifique se ele foi configurado no arquivo \"kwCfg.ini\"",
     "Lo código del sistema está vacío. Verifique se lo archivo \"kwCfg.ini\" fue configurado correctamente"},
    {76,
     "Os dados necessários para verificar se o sistema está atualizado estão vazios. Causa: Desconhecida. "
     "Sistema: \"%d\".",
     "Los datos necesarios para verificar se lo sistema está actualizado están vacíos. Causa: Desconocida. "
     "Sistema: \"%d\"."},
    {77, "Carregando o sistema", "Cargando lo sistema"},
    {78, "Versão do loader: %s", "Versión del aplicativo loader: %s"},
    {79, "Lendo a configuração da estação", "Haciendo la lectura de la configuración de esta computadora"},
    {80, "Carregando as configurações do \"kwCFG.ini\"",
     "Cargando las configuraciones del archivo \"kwCFG.ini\""},
    {81, "Verificando as configurações do sistema", "Verificando las configuraciones del sistema"},
    {82, "Executando o sistema", "Ejecutando lo sistema"},
    {83, "Buscando os requisitos do banco de dados", "Buscando los requisitos de la base de datos"},
    {84, "Buscando os requisitos do servidor de aplicação",
     "Buscando los requisitos de lo servidor de aplicación"},
    {85,
     "Já existe outra cópia desta aplicação sendo executada.\r\nAguardando esta outra cópia da aplicação ser "
     "encerrada",
     "Ya existe una otra copia de esa aplicación en ejecución.\r\nAguarde que esa otra copia de la "
     "aplicación sea cerrada"},
    {86, "Verificando se o sistema está atualizado", "Verificando se lo sistema está actualizado"},
    {87, "Executando a atualização do sistema", "Ejecutando la actualización del sistema"},
    {88, "Erro ao carregar o sistema.\r\nFavor entrar em contato com o administrador do sistema.",
     "Error al cargar lo sistema.\r\nFavor contactar lo administrador del sistema."},
    {89, "Fechar", "Cerrar"},
    {90, "Fecha o aplicativo", "Cerrar lo aplicativo"},
    {91, "Salvar...", "Grabar..."},
    {92, "Salva os detalhes do erro ocorrido em um arquivo a ser selecionado",
     "Grabar los detalles del error en uno archivo seleccionado"},
    {93, "Fim da aplicação do patch\r\n\"%s\"", "Fin de la aplicación del patch\r\n\"%s\""},
    {94, "Aplicando patch \"%s\"\r\nArquivo atual: \"%s\"",
     "Aplicando patch \"%s\"\r\nArchivo actual: \"%s\""},
    {95, " - Endereco: \"%s\"\r\n", " - Dirección: \"%s\"\r\n"},
    {96, "Um antivírus ou firewall pode estar impedindo a atualização do sistema.\r\nErro original: \"%s\".",
     "Un antivirus o firewall puede haber impedido la actualización del sistema. Mensajem de error: \"%s\"."},
};

constexpr int kUltimoNumero = int(sizeof kCatalogo / sizeof kCatalogo[0]);

constexpr bool TabelaEmOrdem() {
    for (int i = 0; i < kUltimoNumero; ++i)
        if (kCatalogo[i].numero != i + 1) return false;
    return true;
}
static_assert(kUltimoNumero == 96 && TabelaEmOrdem(), "the catalogue is indexed by number");

std::mutex gMutexIdioma;
bool gIdiomaLido = false;
TkwIdioma gIdioma = TkwIdioma::Portugues;

TkwIdioma LeiaIdioma() {
    try {
        // At program start the settings reader comes up before the language, and with it a
        // shipped "_kwCFG.ini" becomes "kwCFG.ini"; keep that order when the language is
        // asked for first.
        kwUpdIni();
        const rtl::IniFile ini(CaminhoLocal(ObtenhaDiretorioExecutavel() + "kwCFG.ini"));
        std::string valor = ini.ReadString("Geral", "Lingua", "");
        if (valor.empty()) valor = ini.ReadString("Geral", "Idioma", "");
        return valor == "10" ? TkwIdioma::Espanhol : TkwIdioma::Portugues;
    } catch (const rtl::Exception&) {
        // An unreadable file is a missing one: Portuguese.
        return TkwIdioma::Portugues;
    }
}

}  // namespace

TkwIdioma IdiomaAtual() {
    std::lock_guard lock(gMutexIdioma);
    if (!gIdiomaLido) {
        gIdioma = LeiaIdioma();
        gIdiomaLido = true;
    }
    return gIdioma;
}

void RecarregueIdioma() {
    std::lock_guard lock(gMutexIdioma);
    gIdiomaLido = false;
}

std::string_view TextoCatalogo(int numero, TkwIdioma idioma) {
    if (numero < 1 || numero > kUltimoNumero) return {};
    const Mensagem& m = kCatalogo[numero - 1];
    return idioma == TkwIdioma::Espanhol ? m.espanhol : m.portugues;
}

std::string TraduzaV(int numero, std::span<const rtl::FormatArg> argumentos) {
    const std::string_view padrao = TextoCatalogo(numero, IdiomaAtual());
    if (padrao.empty()) return {};
    return rtl::FormatV(padrao, argumentos);
}

std::string TraduzaSemArgumentos(int numero) {
    return TraduzaV(numero, {});
}
