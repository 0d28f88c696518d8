<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR" sourcelanguage="en_US">
<context>
    <name>MainWindow</name>
    <message>
        <source>Log</source>
        <translation>Journal</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>Déconnecté</translation>
    </message>
    <message>
        <source>Dialing</source>
        <translation>Connexion…</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Connecté</translation>
    </message>
    <message>
        <source>Bookmarks</source>
        <translation>Signets</translation>
    </message>
    <message>
        <source>Get files</source>
        <translation>Recevoir</translation>
    </message>
    <message>
        <source>Put files</source>
        <translation>Envoyer</translation>
    </message>
    <message>
        <source>Refused name: "%1"</source>
        <translation>Nom refusé : « %1 »</translation>
    </message>
    <message>
        <source>Directories are not deleted: "%1"</source>
        <translation>Les répertoires ne sont pas effacés : « %1 »</translation>
    </message>
</context>
<context>
    <name>Browsing</name>
    <message>
        <source>Loading...</source>
        <translation>Chargement…</translation>
    </message>
    <message>
        <source>Listing failed</source>
        <translation>Échec du listage</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Réessayer</translation>
    </message>
    <message>
        <source>%1, %2 left</source>
        <translation>%1, reste %2</translation>
    </message>
</context>
<context>
    <name>zodaru::MyDelegate</name>
    <message>
        <source>Quit</source>
        <translation>Quitter</translation>
    </message>
    <message numerus="yes">
        <source>%n transfer(s) are not finished. Quit anyway?</source>
        <translation>
            <numerusform>%n transfert n’est pas terminé. Quitter quand même ?</numerusform>
            <numerusform>%n transferts ne sont pas terminés. Quitter quand même ?</numerusform>
        </translation>
    </message>
    <message>
        <source>Connection cancelled.</source>
        <translation>Connexion annulée.</translation>
    </message>
    <message>
        <source>Connecting to %1...</source>
        <translation>Connexion à %1…</translation>
    </message>
    <message>
        <source>Could not reach %1: %2</source>
        <translation>Impossible de joindre %1 : %2</translation>
    </message>
    <message>
        <source>%1 refused the login or the password.</source>
        <translation>%1 a refusé l’identifiant ou le mot de passe.</translation>
    </message>
    <message>
        <source>%1 does not answer as an FTP server.</source>
        <translation>%1 ne répond pas comme un serveur FTP.</translation>
    </message>
    <message>
        <source>The connection to the server was lost.</source>
        <translation>La connexion au serveur a été perdue.</translation>
    </message>
</context>
</TS>
