<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl_PL">
<context>
    <name>AboutBox</name>
    <message>
        <source>About</source>
        <translation>O programie</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Pomoc</translation>
    </message>
    <message>
        <source>License</source>
        <translation>Licencja</translation>
    </message>
    <message>
        <source>Thanks</source>
        <translation>Podziękowania</translation>
    </message>
    <message>
        <source>Updates</source>
        <translation>Aktualizacje</translation>
    </message>
    <message>
        <source>Pylon Router</source>
        <translation>Pylon Router</translation>
    </message>
</context>
<context>
    <name>AuthDialog</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Anuluj</translation>
    </message>
    <message>
        <source>Data invalid</source>
        <translation>Nieprawidłowe dane</translation>
    </message>
    <message>
        <source>Both username and password must be filled.</source>
        <translation>Należy podać zarówno nazwę użytkownika, jak i hasło.</translation>
    </message>
</context>
<context>
    <name>ClientListBar</name>
    <message>
        <source>Filter clients</source>
        <translation>Filtruj klientów</translation>
    </message>
    <message>
        <source>&amp;Filter:</source>
        <translation>&amp;Filtr:</translation>
    </message>
    <message>
        <source>Order of the clients</source>
        <translation>Kolejność klientów</translation>
    </message>
    <message>
        <source>As OpenVPN lists them</source>
        <translation>Jak wymienia je OpenVPN</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nazwa</translation>
    </message>
    <message>
        <source>Connected since</source>
        <translation>Połączony od</translation>
    </message>
    <message>
        <source>Sent bytes</source>
        <translation>Wysłane bajty</translation>
    </message>
    <message>
        <source>Received bytes</source>
        <translation>Odebrane bajty</translation>
    </message>
    <message>
        <source>&amp;Order:</source>
        <translation>&amp;Kolejność:</translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n clients</source>
        <translation>
            <numerusform>%1 z %n klienta</numerusform>
            <numerusform>%1 z %n klientów</numerusform>
            <numerusform>%1 z %n klientów</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n clients</source>
        <translation>
            <numerusform>%n klient</numerusform>
            <numerusform>%n klientów</numerusform>
            <numerusform>%n klientów</numerusform>
        </translation>
    </message>
    <message>
        <source>Clear the filter</source>
        <translation>Wyczyść filtr</translation>
    </message>
</context>
<context>
    <name>ClientRowInterface</name>
    <message>
        <source>Disconnect</source>
        <translation>Rozłącz</translation>
    </message>
    <message>
        <source>Disconnects this client from the VPN</source>
        <translation>Odłącza tego klienta od VPN</translation>
    </message>
</context>
<context>
    <name>ClientStatusWidget</name>
    <message>
        <source>Disconnect</source>
        <translation>Rozłącz</translation>
    </message>
    <message>
        <source>Connected: </source>
        <translation>Połączono: </translation>
    </message>
    <message>
        <source>Real address: </source>
        <translation>Adres rzeczywisty: </translation>
    </message>
    <message>
        <source>VPN address: </source>
        <translation>Adres VPN: </translation>
    </message>
    <message>
        <source>Sent bytes: </source>
        <translation>Wysłane bajty: </translation>
    </message>
    <message>
        <source>Received bytes: </source>
        <translation>Odebrane bajty: </translation>
    </message>
</context>
<context>
    <name>FtpClient</name>
    <message>
        <source>Aborted.</source>
        <translation>Przerwano.</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>Brak połączenia</translation>
    </message>
    <message>
        <source>Login failed:
%1</source>
        <translation>Logowanie nie powiodło się:
%1</translation>
    </message>
    <message>
        <source>The user name or password contains a line break.</source>
        <translation>Nazwa użytkownika lub hasło zawiera znak końca wiersza.</translation>
    </message>
    <message>
        <source>Changing directory failed:
%1</source>
        <translation>Zmiana katalogu nie powiodła się:
%1</translation>
    </message>
    <message>
        <source>The name contains a line break.</source>
        <translation>Nazwa zawiera znak końca wiersza.</translation>
    </message>
    <message>
        <source>Uploading file failed:
%1</source>
        <translation>Wysyłanie pliku nie powiodło się:
%1</translation>
    </message>
    <message>
        <source>Connecting to host failed:
%1</source>
        <translation>Łączenie z hostem nie powiodło się:
%1</translation>
    </message>
    <message>
        <source>Connection closed by the server.</source>
        <translation>Serwer zamknął połączenie.</translation>
    </message>
    <message>
        <source>The server sent a malformed reply:
%1</source>
        <translation>Serwer wysłał nieprawidłową odpowiedź:
%1</translation>
    </message>
    <message>
        <source>The server ended the transfer early.</source>
        <translation>Serwer przedwcześnie zakończył przesyłanie.</translation>
    </message>
    <message>
        <source>Connecting to the data port failed:
%1</source>
        <translation>Łączenie z portem danych nie powiodło się:
%1</translation>
    </message>
    <message>
        <source>The server did not answer in time.</source>
        <translation>Serwer nie odpowiedział na czas.</translation>
    </message>
    <message>
        <source>The server sent a reply that is too long.</source>
        <translation>Serwer przysłał zbyt długą odpowiedź.</translation>
    </message>
    <message>
        <source>The server&apos;s reply did not end in time.</source>
        <translation>Odpowiedź serwera nie skończyła się na czas.</translation>
    </message>
</context>
<context>
    <name>FtpProgressDialog</name>
    <message>
        <source>No connection to the server.</source>
        <translation>Brak połączenia z serwerem.</translation>
    </message>
    <message>
        <source>Wrong user or password.</source>
        <translation>Błędny użytkownik lub hasło.</translation>
    </message>
    <message>
        <source>Wrong destination path.</source>
        <translation>Błędna ścieżka docelowa.</translation>
    </message>
    <message>
        <source>Can not send file to the server.</source>
        <translation>Nie można wysłać pliku na serwer.</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Ostrzeżenie</translation>
    </message>
    <message>
        <source>The server refused to remove the temporary file %1; it was left on the router.</source>
        <translation>Serwer odmówił usunięcia pliku tymczasowego %1; plik pozostał na routerze.</translation>
    </message>
    <message>
        <source>Sending the configuration to the router</source>
        <translation>Wysyłanie konfiguracji do routera</translation>
    </message>
    <message>
        <source>Upload progress</source>
        <translation>Postęp wysyłania</translation>
    </message>
</context>
<context>
    <name>LogFindBar</name>
    <message>
        <source>Find in the log</source>
        <translation>Szukaj w dzienniku</translation>
    </message>
    <message>
        <source>Previous</source>
        <translation>Poprzedni</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Następny</translation>
    </message>
    <message>
        <source>Close the find bar (Esc)</source>
        <translation>Zamknij pasek wyszukiwania (Esc)</translation>
    </message>
    <message>
        <source>No match</source>
        <translation>Brak wyników</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 z %2</translation>
    </message>
    <message>
        <source>Clear the search text</source>
        <translation>Wyczyść szukany tekst</translation>
    </message>
    <message>
        <source>Close the find bar</source>
        <translation>Zamknij pasek wyszukiwania</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>Ctrl+H</source>
        <translation>Ctrl+H</translation>
    </message>
    <message>
        <source>Reconnect OpenVPN</source>
        <translation>Połącz ponownie z OpenVPN</translation>
    </message>
    <message>
        <source>New version is avaliable. Click this
icon to get more informations.</source>
        <translation>Dostępna jest nowa wersja. Kliknij tę
ikonę, aby dowiedzieć się więcej.</translation>
    </message>
    <message>
        <source>Reconnect</source>
        <translation>Połącz ponownie</translation>
    </message>
    <message>
        <source>Reconnect to the OpenVPN
management interface.</source>
        <translation>Połącz ponownie z interfejsem
zarządzania OpenVPN.</translation>
    </message>
    <message>
        <source>&amp;General</source>
        <translation>&amp;Ogólne</translation>
    </message>
    <message>
        <source>&amp;Mode</source>
        <translation>&amp;Tryb</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>&amp;Język</translation>
    </message>
    <message>
        <source>&amp;Router</source>
        <translation>&amp;Router</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>&amp;Narzędzia</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>Pomo&amp;c</translation>
    </message>
    <message>
        <source>Router</source>
        <translation>Router</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>Dziennik</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Hold release</source>
        <translation>Zwolnij wstrzymanie</translation>
    </message>
    <message>
        <source>Vpn restart</source>
        <translation>Restart VPN</translation>
    </message>
    <message>
        <source>Firewall restart</source>
        <translation>Restart zapory</translation>
    </message>
    <message>
        <source>Router restart</source>
        <translation>Restart routera</translation>
    </message>
    <message>
        <source>Send configuration</source>
        <translation>Wyślij konfigurację</translation>
    </message>
    <message>
        <source>VPN Clients</source>
        <translation>Klienci VPN</translation>
    </message>
    <message>
        <source>&lt;p&gt;Pylon Router is the control panel of a small VPN router running OpenWRT and OpenVPN. It shows the state and the log of the router&apos;s OpenVPN, lists the connected VPN clients and disconnects them, restarts the VPN, the firewall or the whole router, and opens encrypted configuration exports to save their files or send them to the router.&lt;/p&gt;&lt;p&gt;More on the web: &lt;a href=&quot;%1&quot;&gt;%1&lt;/a&gt;&lt;/p&gt;</source>
        <translation>&lt;p&gt;Pylon Router to panel sterowania małego routera VPN z systemem OpenWRT i OpenVPN. Pokazuje stan i dziennik OpenVPN działającego na routerze, wyświetla listę połączonych klientów VPN i pozwala ich rozłączać, restartuje VPN, zaporę lub cały router, a także otwiera zaszyfrowane eksporty konfiguracji, by zapisać zawarte w nich pliki albo wysłać je do routera.&lt;/p&gt;&lt;p&gt;Więcej w sieci: &lt;a href=&quot;%1&quot;&gt;%1&lt;/a&gt;&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;!-- help text --&gt;</source>
        <extracomment>Text of the Help page, below the program&apos;s name; shows nothing. Replace it with help text (rich text) or keep it as it is.</extracomment>
        <translation>&lt;!-- tekst pomocy --&gt;</translation>
    </message>
    <message>
        <source>No new version avaliable.</source>
        <translation>Brak nowej wersji.</translation>
    </message>
    <message>
        <source>Read router configuration</source>
        <translation>Wczytaj konfigurację routera</translation>
    </message>
    <message>
        <source>AES files (*.aes);;All files (*.*)</source>
        <translation>Pliki AES (*.aes);;Wszystkie pliki (*.*)</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>Could not read the file.</source>
        <translation>Nie można odczytać pliku.</translation>
    </message>
    <message>
        <source>Insert password</source>
        <translation>Podaj hasło</translation>
    </message>
    <message>
        <source>Configuration transport password:</source>
        <translation>Hasło transportowe konfiguracji:</translation>
    </message>
    <message>
        <source>Wrong password or XML syntax error.</source>
        <translation>Błędne hasło lub błąd składni XML.</translation>
    </message>
    <message>
        <source>Extract directory</source>
        <translation>Katalog do rozpakowania</translation>
    </message>
    <message>
        <source>Command error!</source>
        <translation>Błąd polecenia!</translation>
    </message>
    <message>
        <source>Router IP address</source>
        <translation>Adres IP routera</translation>
    </message>
    <message>
        <source>Router FTP password</source>
        <translation>Hasło FTP routera</translation>
    </message>
    <message>
        <source>Network socket error</source>
        <translation>Błąd gniazda sieciowego</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>Łączenie</translation>
    </message>
    <message>
        <source>Waiting</source>
        <translation>Oczekiwanie</translation>
    </message>
    <message>
        <source>Authenticating</source>
        <translation>Uwierzytelnianie</translation>
    </message>
    <message>
        <source>Getting configuration</source>
        <translation>Pobieranie konfiguracji</translation>
    </message>
    <message>
        <source>Assigning IP</source>
        <translation>Przydzielanie adresu IP</translation>
    </message>
    <message>
        <source>Adding routes</source>
        <translation>Dodawanie tras</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Połączono</translation>
    </message>
    <message>
        <source>Reconnecting</source>
        <translation>Ponowne łączenie</translation>
    </message>
    <message>
        <source>Exiting</source>
        <translation>Zamykanie</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Nieznany</translation>
    </message>
    <message>
        <source>State: &lt;b&gt;%1&lt;/b&gt;</source>
        <translation>Stan: &lt;b&gt;%1&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Management interface password:</source>
        <translation>Hasło interfejsu zarządzania:</translation>
    </message>
    <message>
        <source>Private key password:</source>
        <translation>Hasło klucza prywatnego:</translation>
    </message>
    <message>
        <source>User authentication</source>
        <translation>Uwierzytelnianie użytkownika</translation>
    </message>
    <message>
        <source>Username:</source>
        <translation>Nazwa użytkownika:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Hasło:</translation>
    </message>
    <message>
        <source>Question</source>
        <translation>Pytanie</translation>
    </message>
    <message>
        <source>Do you really want to disconnect %1?</source>
        <translation>Czy na pewno rozłączyć klienta %1?</translation>
    </message>
    <message>
        <source>Version %1 is avaliable on the following website:&lt;br&gt;&lt;br&gt;&lt;a href=&quot;%2&quot;&gt;%3&lt;/a&gt;</source>
        <translation>Wersja %1 jest dostępna na następującej stronie:&lt;br&gt;&lt;br&gt;&lt;a href=&quot;%2&quot;&gt;%3&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Informacja</translation>
    </message>
    <message>
        <source>Application language was changed. Please restart application to apply changes.</source>
        <translation>Język aplikacji został zmieniony. Uruchom aplikację ponownie, aby zastosować zmiany.</translation>
    </message>
    <message>
        <source>Timeout reached</source>
        <translation>Przekroczono czas oczekiwania</translation>
    </message>
    <message>
        <source>The server is not responding. The cause might be that it&apos;s management interface is already in use. Do you want to reconnect?</source>
        <translation>Serwer nie odpowiada. Przyczyną może być to, że jego interfejs zarządzania jest już używany. Czy połączyć ponownie?</translation>
    </message>
    <message>
        <source>These files could not be written; any file of the same name was left as it was:
%1</source>
        <translation>Tych plików nie udało się zapisać; istniejące pliki o tych nazwach pozostały bez zmian:
%1</translation>
    </message>
    <message>
        <source>Version %1 is avaliable on the following website:&lt;br&gt;&lt;br&gt;%2</source>
        <translation>Wersja %1 jest dostępna na następującej stronie:&lt;br&gt;&lt;br&gt;%2</translation>
    </message>
    <message>
        <source>and %1 more</source>
        <translation>i jeszcze %1</translation>
    </message>
    <message>
        <source>The previous password was wrong.
Management interface password:</source>
        <translation>Poprzednie hasło było błędne.
Hasło interfejsu zarządzania:</translation>
    </message>
    <message>
        <source>The client %1 was not disconnected. OpenVPN answered: %2</source>
        <translation>Klient %1 nie został rozłączony. Odpowiedź OpenVPN: %2</translation>
    </message>
    <message>
        <source>The name of this client is too long to be sent to OpenVPN. It was not disconnected.</source>
        <translation>Nazwa tego klienta jest zbyt długa, by wysłać ją do OpenVPN. Klient nie został rozłączony.</translation>
    </message>
    <message>
        <source>The text entered is too long to be sent to OpenVPN. Nothing was sent.</source>
        <translation>Wpisany tekst jest zbyt długi, by wysłać go do OpenVPN. Nic nie zostało wysłane.</translation>
    </message>
    <message>
        <source>These files were not written because their paths lead outside the chosen directory, go round in a loop of links or lie more than %1 directories deep:
%2</source>
        <translation>Tych plików nie zapisano, ponieważ ich ścieżki prowadzą poza wybrany katalog, krążą w pętli dowiązań albo sięgają głębiej niż %1 katalogów:
%2</translation>
    </message>
    <message>
        <source>No secret store: the router password is kept in the settings file.</source>
        <translation>Brak magazynu haseł: hasło routera jest przechowywane w pliku ustawień.</translation>
    </message>
    <message>
        <source>Save log</source>
        <translation>Zapisz dziennik</translation>
    </message>
    <message>
        <source>Log files (*.log *.txt);;All files (*)</source>
        <translation>Pliki dziennika (*.log *.txt);;Wszystkie pliki (*)</translation>
    </message>
    <message>
        <source>The log could not be saved to %1:
%2</source>
        <translation>Nie udało się zapisać dziennika w pliku %1:
%2</translation>
    </message>
    <message>
        <source>Ctrl+S</source>
        <translation>Ctrl+S</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>Znajdź</translation>
    </message>
    <message>
        <source>Ctrl+F</source>
        <translation>Ctrl+F</translation>
    </message>
    <message>
        <source>&amp;Basic</source>
        <translation>&amp;Podstawowy</translation>
    </message>
    <message>
        <source>&amp;Client</source>
        <translation>&amp;Klient</translation>
    </message>
    <message>
        <source>&amp;Server</source>
        <translation>&amp;Serwer</translation>
    </message>
    <message>
        <source>&amp;Extract config</source>
        <translation>&amp;Rozpakuj konfigurację</translation>
    </message>
    <message>
        <source>&amp;English</source>
        <translation>&amp;Angielski</translation>
    </message>
    <message>
        <source>&amp;Polish</source>
        <translation>&amp;Polski</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>Za&amp;kończ</translation>
    </message>
    <message>
        <source>Set &amp;IP address</source>
        <translation>Ustaw adres &amp;IP</translation>
    </message>
    <message>
        <source>Set FTP &amp;password</source>
        <translation>Ustaw &amp;hasło FTP</translation>
    </message>
    <message>
        <source>&amp;Automatic hold-release</source>
        <translation>&amp;Automatyczne zwalnianie wstrzymania</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>&amp;O programie</translation>
    </message>
    <message>
        <source>&amp;Notifications</source>
        <translation>&amp;Powiadomienia</translation>
    </message>
    <message>
        <source>&amp;Save log…</source>
        <translation>&amp;Zapisz dziennik…</translation>
    </message>
    <message>
        <source>Resize the window</source>
        <translation>Zmień rozmiar okna</translation>
    </message>
    <message>
        <source>Pylon Router logo</source>
        <translation>Logo Pylon Router</translation>
    </message>
    <message>
        <source>OpenVPN log</source>
        <translation>Dziennik OpenVPN</translation>
    </message>
    <message>
        <source>No router address</source>
        <translation>Brak adresu routera</translation>
    </message>
    <message>
        <source>Router address: %1</source>
        <translation>Adres routera: %1</translation>
    </message>
</context>
<context>
    <name>OpenVpnManagement</name>
    <message>
        <source>OpenVPN did not accept the management interface password and closed the connection.</source>
        <translation>OpenVPN nie przyjął hasła interfejsu zarządzania i zamknął połączenie.</translation>
    </message>
</context>
<context>
    <name>QtTelnet</name>
    <message>
        <source>The connection was refused by the peer (or timed out).</source>
        <translation>Druga strona odrzuciła połączenie (lub upłynął limit czasu).</translation>
    </message>
    <message>
        <source>The remote host closed the connection. Note that the client socket (i.e., this socket) will be closed after the remote close notification has been sent.</source>
        <translation>Zdalny host zamknął połączenie. Gniazdo klienta (czyli to gniazdo) zostanie zamknięte po wysłaniu powiadomienia o zdalnym zamknięciu.</translation>
    </message>
    <message>
        <source>The host address was not found.</source>
        <translation>Nie znaleziono adresu hosta.</translation>
    </message>
    <message>
        <source>The socket operation failed because the application lacked the required privileges.</source>
        <translation>Operacja na gnieździe nie powiodła się, ponieważ aplikacja nie ma wymaganych uprawnień.</translation>
    </message>
    <message>
        <source>The local system ran out of resources (e.g., too many sockets).</source>
        <translation>W systemie lokalnym zabrakło zasobów (np. zbyt wiele gniazd).</translation>
    </message>
    <message>
        <source>The socket operation timed out.</source>
        <translation>Upłynął limit czasu operacji na gnieździe.</translation>
    </message>
    <message>
        <source>The datagram was larger than the operating system&apos;s limit (which can be as low as 8192 bytes).</source>
        <translation>Datagram przekroczył limit systemu operacyjnego (który może wynosić zaledwie 8192 bajty).</translation>
    </message>
    <message>
        <source>An error occurred with the network (e.g., the network cable was accidentally plugged out).</source>
        <translation>Wystąpił błąd sieci (np. kabel sieciowy został przypadkowo odłączony).</translation>
    </message>
    <message>
        <source>The address specified to QUdpSocket::bind() is already in use and was set to be exclusive.</source>
        <translation>Adres podany w QUdpSocket::bind() jest już używany i został zastrzeżony na wyłączność.</translation>
    </message>
    <message>
        <source>The address specified to QUdpSocket::bind() does not belong to the host.</source>
        <translation>Adres podany w QUdpSocket::bind() nie należy do tego hosta.</translation>
    </message>
    <message>
        <source>The requested socket operation is not supported by the local operating system (e.g., lack of IPv6 support).</source>
        <translation>Żądana operacja na gnieździe nie jest obsługiwana przez lokalny system operacyjny (np. brak obsługi IPv6).</translation>
    </message>
    <message>
        <source>The socket is using a proxy, and the proxy requires authentication.</source>
        <translation>Gniazdo korzysta z serwera proxy, który wymaga uwierzytelnienia.</translation>
    </message>
    <message>
        <source>An unidentified error occurred.</source>
        <translation>Wystąpił nieznany błąd.</translation>
    </message>
    <message>
        <source>The peer sent a line longer than %1 bytes. The connection was closed.</source>
        <translation>Druga strona przesłała wiersz dłuższy niż %1 bajtów. Połączenie zostało zamknięte.</translation>
    </message>
</context>
<context>
    <name>TerminalLogWriter</name>
    <message>
        <source>… %1 lines not shown</source>
        <translation>… nie pokazano %1 wierszy</translation>
    </message>
</context>
<context>
    <name>UpdateAction</name>
    <message>
        <source>Update</source>
        <translation>Aktualizacja</translation>
    </message>
</context>
<context>
    <name>VpnNotifications</name>
    <message>
        <source>Management connection lost</source>
        <translation>Utracono połączenie z interfejsem zarządzania</translation>
    </message>
    <message>
        <source>VPN connected</source>
        <translation>VPN połączony</translation>
    </message>
    <message>
        <source>VPN reconnecting</source>
        <translation>VPN łączy się ponownie</translation>
    </message>
    <message>
        <source>VPN exiting</source>
        <translation>VPN kończy działanie</translation>
    </message>
    <message>
        <source>VPN clients</source>
        <translation>Klienci VPN</translation>
    </message>
    <message>
        <source>Client connected: %1</source>
        <translation>Klient połączony: %1</translation>
    </message>
    <message>
        <source>%1 clients connected: %2</source>
        <translation>Połączeni klienci (%1): %2</translation>
    </message>
    <message>
        <source>Client disconnected: %1</source>
        <translation>Klient rozłączony: %1</translation>
    </message>
    <message>
        <source>%1 clients disconnected: %2</source>
        <translation>Rozłączeni klienci (%1): %2</translation>
    </message>
    <message>
        <source>%1 and %2 more</source>
        <translation>%1 i jeszcze %2</translation>
    </message>
    <message>
        <source>Router %1</source>
        <translation>Router %1</translation>
    </message>
</context>
</TS>
