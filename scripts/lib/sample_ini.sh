# Sourced by the scripts: writes the sample INI files (port 8080, automatic start,
# the demo user of the stand-in library, its log on) into a folder, in CR LF lines.
#   write_service_ini FOLDER   TavWebService.ini, unless one is there
#   write_library_ini FOLDER   DozUzedoda.ini for the stand-in, unless one is there
write_service_ini() {
  [ -f "$1/TavWebService.ini" ] && return 0
  printf '%s\r\n' \
    '[SERVIDOR]' 'PORTA=8080' \
    '[DLL]' 'USUARIO=demo' 'SENHA=demo123' \
    '[GERAIS]' 'INICIARAUTO=S' \
    '[WHATSAPP]' '; ENDERECO=https://gateway.example/conta' '; TOKEN=your-account-token' '; CERTIFICADOS=' \
    > "$1/TavWebService.ini"
}
write_library_ini() {
  [ -f "$1/DozUzedoda.ini" ] && return 0
  printf '%s\r\n' '[LOG]' 'Ativo=SIM' '[BANCO]' 'ARQUIVO=DozUzedoda.db' > "$1/DozUzedoda.ini"
}
