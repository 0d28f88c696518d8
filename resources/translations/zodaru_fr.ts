<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR" sourcelanguage="en_US">
<context>
    <name>MainWindow</name>
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
</TS>
