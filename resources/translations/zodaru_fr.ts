<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR" sourcelanguage="en_US">
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
    <name>File</name>
    <message>
        <source>Cancelled</source>
        <translation>Annulé</translation>
    </message>
    <message>
        <source>Running...</source>
        <translation>En cours…</translation>
    </message>
</context>
<context>
    <name>LogPane</name>
    <message>
        <source>[... %1 lines not shown here ...]</source>
        <translation>[… %1 lignes non affichées ici …]</translation>
    </message>
</context>
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
        <source>Refused name: &quot;%1&quot;</source>
        <translation>Nom refusé : « %1 »</translation>
    </message>
    <message>
        <source>Directories are not deleted: &quot;%1&quot;</source>
        <translation>Les répertoires ne sont pas effacés : « %1 »</translation>
    </message>
    <message>
        <source>Not encrypted</source>
        <translation>Non chiffré</translation>
    </message>
    <message>
        <source>Encrypted</source>
        <translation>Chiffré</translation>
    </message>
    <message>
        <source>Encrypted (%1)</source>
        <translation>Chiffré (%1)</translation>
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
        <source>View</source>
        <translation>Affichage</translation>
    </message>
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
    <message>
        <source>%1 does not offer TLS, which ftpes:// requires.</source>
        <translation>%1 ne propose pas TLS, que ftpes:// exige.</translation>
    </message>
    <message>
        <source>%1 refused TLS on one connection after accepting it on another: someone may be tampering with the connection. Nothing was sent in clear.</source>
        <translation>%1 a refusé TLS sur une connexion après l’avoir accepté sur une autre : quelqu’un s’interpose peut-être. Rien n’a été envoyé en clair.</translation>
    </message>
    <message>
        <source>%1 refused to encrypt the data connections (PROT P), so the session was closed.</source>
        <translation>%1 a refusé de chiffrer les connexions de données (PROT P) : la session a été fermée.</translation>
    </message>
    <message>
        <source>%1 does not support encryption.</source>
        <translation>%1 ne prend pas en charge le chiffrement.</translation>
    </message>
    <message>
        <source>The password was not sent in clear to %1.</source>
        <translation>Le mot de passe n’a pas été envoyé en clair à %1.</translation>
    </message>
    <message>
        <source>The server refused TLS when the connection was made again: it was closed, nothing was sent in clear.</source>
        <translation>Le serveur a refusé TLS à la reconnexion : la connexion a été fermée, rien n’a été envoyé en clair.</translation>
    </message>
    <message>
        <source>The certificate of %1 has changed.</source>
        <translation>Le certificat de %1 a changé.</translation>
    </message>
    <message>
        <source>The certificate of %1 could not be verified.</source>
        <translation>Le certificat de %1 n’a pas pu être vérifié.</translation>
    </message>
    <message>
        <source>The certificate of %1 was not trusted.</source>
        <translation>Le certificat de %1 n’a pas été accepté.</translation>
    </message>
    <message>
        <source>Certificate</source>
        <translation>Certificat</translation>
    </message>
    <message>
        <source>The certificate could not be saved (%1). It is trusted until the program ends.</source>
        <translation>Le certificat n’a pas pu être enregistré (%1). Il reste accepté jusqu’à la fin du programme.</translation>
    </message>
</context>
<context>
    <name>zodaru::CertificateDialog</name>
    <message>
        <source>Certificate of %1</source>
        <translation>Certificat de %1</translation>
    </message>
    <message>
        <source>Warning: this certificate is not the one you trusted before for %1. Someone may be intercepting the connection. Trust it only if you know why the server&apos;s certificate changed.</source>
        <translation>Attention : ce certificat n’est pas celui que vous aviez accepté pour %1. Quelqu’un intercepte peut-être la connexion. Ne l’acceptez que si vous savez pourquoi le certificat du serveur a changé.</translation>
    </message>
    <message>
        <source>The identity of %1 could not be verified.</source>
        <translation>L’identité de %1 n’a pas pu être vérifiée.</translation>
    </message>
    <message>
        <source>Server:</source>
        <translation>Serveur :</translation>
    </message>
    <message>
        <source>Subject:</source>
        <translation>Sujet :</translation>
    </message>
    <message>
        <source>Issuer:</source>
        <translation>Émetteur :</translation>
    </message>
    <message>
        <source>Valid:</source>
        <translation>Validité :</translation>
    </message>
    <message>
        <source>SHA-256:</source>
        <translation>SHA-256 :</translation>
    </message>
    <message>
        <source>Problem:</source>
        <translation>Problème :</translation>
    </message>
    <message>
        <source>not trusted</source>
        <translation>non reconnu</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Trust once</source>
        <translation>Accepter cette fois</translation>
    </message>
    <message>
        <source>Always trust for this server</source>
        <translation>Toujours accepter pour ce serveur</translation>
    </message>
    <message>
        <source>from %1 to %2</source>
        <translation>du %1 au %2</translation>
    </message>
    <message>
        <source>(expired)</source>
        <translation>(expiré)</translation>
    </message>
    <message>
        <source>(not yet valid)</source>
        <translation>(pas encore valide)</translation>
    </message>
    <message>
        <source>SHA-256 trusted before:</source>
        <translation>SHA-256 accepté avant :</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>inconnue</translation>
    </message>
</context>
<context>
    <name>zodaru::ClearPasswordDialog</name>
    <message>
        <source>Connection without encryption</source>
        <translation>Connexion sans chiffrement</translation>
    </message>
    <message>
        <source>%1 does not support encryption (it refused AUTH TLS). If you continue, your password and your files travel in clear: anyone on the way can read them.

Type ftp:// before the server&apos;s name to connect in clear without this question.</source>
        <translation>%1 ne prend pas en charge le chiffrement (il a refusé AUTH TLS). Si vous continuez, votre mot de passe et vos fichiers circulent en clair : n’importe qui sur le trajet peut les lire.

Tapez ftp:// devant le nom du serveur pour vous connecter en clair sans cette question.</translation>
    </message>
    <message>
        <source>Always for this server</source>
        <translation>Toujours pour ce serveur</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Continue without encryption</source>
        <translation>Continuer sans chiffrement</translation>
    </message>
</context>
<context>
    <name>zodaru::GetNameWindow</name>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
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
    <message>
        <source>%1 does not offer TLS, which ftpes:// requires.</source>
        <translation>%1 ne propose pas TLS, que ftpes:// exige.</translation>
    </message>
    <message>
        <source>The certificate of %1 has changed.</source>
        <translation>Le certificat de %1 a changé.</translation>
    </message>
    <message>
        <source>The certificate of %1 could not be verified.</source>
        <translation>Le certificat de %1 n’a pas pu être vérifié.</translation>
    </message>
    <message>
        <source>The certificate of %1 was not trusted.</source>
        <translation>Le certificat de %1 n’a pas été accepté.</translation>
    </message>
    <message>
        <source>Certificate</source>
        <translation>Certificat</translation>
    </message>
    <message>
        <source>The certificate could not be saved (%1). It is trusted until the program ends.</source>
        <translation>Le certificat n’a pas pu être enregistré (%1). Il reste accepté jusqu’à la fin du programme.</translation>
    </message>
    <message>
        <source>Info Panel</source>
        <translation>À propos</translation>
    </message>
    <message>
        <source>&lt;b&gt;Zodaru&lt;/b&gt; %1&lt;br&gt;&lt;br&gt;A desktop FTP client: your files and the server&apos;s side by side, with a download and an upload queue.</source>
        <translation>&lt;b&gt;Zodaru&lt;/b&gt; %1&lt;br&gt;&lt;br&gt;Un client FTP de bureau : vos fichiers et ceux du serveur côte à côte, avec une file de réception et une file d’envoi.</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Aide</translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;Connect&lt;/b&gt; asks for a server, a login and a password; press it again to disconnect.&lt;/p&gt;&lt;p&gt;The left browser shows this computer, the right one the server. Select entries, then &lt;b&gt;Get files&lt;/b&gt; to download them into the directory open on the left, or &lt;b&gt;Put files&lt;/b&gt; to upload them into the directory open on the right.&lt;/p&gt;&lt;p&gt;The buttons between the browsers make a directory or delete the selected entries on the side their arrow points to.&lt;/p&gt;&lt;p&gt;The Download and Upload tabs show the queued files and their progress.&lt;/p&gt;</source>
        <translation>&lt;p&gt;Le bouton de connexion demande un serveur, un identifiant et un mot de passe ; appuyez de nouveau dessus pour vous déconnecter.&lt;/p&gt;&lt;p&gt;Le navigateur de gauche montre cet ordinateur, celui de droite le serveur. Sélectionnez des éléments, puis &lt;b&gt;Recevoir&lt;/b&gt; pour les télécharger dans le répertoire ouvert à gauche, ou &lt;b&gt;Envoyer&lt;/b&gt; pour les envoyer dans le répertoire ouvert à droite.&lt;/p&gt;&lt;p&gt;Les boutons entre les navigateurs créent un répertoire ou effacent les éléments sélectionnés du côté où pointe leur flèche.&lt;/p&gt;&lt;p&gt;Les onglets Réceptions et Envois montrent les fichiers en attente et leur progression.&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>Sizes</name>
    <message>
        <source>%1 B</source>
        <translation>%1 o</translation>
    </message>
    <message>
        <source>KiB</source>
        <translation>Kio</translation>
    </message>
    <message>
        <source>MiB</source>
        <translation>Mio</translation>
    </message>
    <message>
        <source>GiB</source>
        <translation>Gio</translation>
    </message>
    <message>
        <source>TiB</source>
        <translation>Tio</translation>
    </message>
    <message>
        <source>PiB</source>
        <translation>Pio</translation>
    </message>
    <message>
        <source>EiB</source>
        <translation>Eio</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 octets</translation>
    </message>
</context>
<context>
    <name>Preview</name>
    <message>
        <source>Missing on the other side</source>
        <translation>Absent de l'autre côté</translation>
    </message>
    <message>
        <source>Same size and date on the other side</source>
        <translation>Même taille et même date de l'autre côté</translation>
    </message>
    <message>
        <source>Same size on the other side</source>
        <translation>Même taille de l'autre côté</translation>
    </message>
    <message>
        <source>Newer than on the other side</source>
        <translation>Plus récent que de l'autre côté</translation>
    </message>
    <message>
        <source>Older than on the other side</source>
        <translation>Plus ancien que de l'autre côté</translation>
    </message>
    <message>
        <source>Other size on the other side</source>
        <translation>Autre taille de l'autre côté</translation>
    </message>
    <message>
        <source>Another kind of entry on the other side</source>
        <translation>Autre type d'élément de l'autre côté</translation>
    </message>
    <message>
        <source>Also a folder on the other side</source>
        <translation>Aussi un dossier de l'autre côté</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Nom :</translation>
    </message>
    <message>
        <source>Kind:</source>
        <translation>Type :</translation>
    </message>
    <message>
        <source>Size:</source>
        <translation>Taille :</translation>
    </message>
    <message>
        <source>Modified:</source>
        <translation>Modifié :</translation>
    </message>
    <message>
        <source>Permissions:</source>
        <translation>Permissions :</translation>
    </message>
    <message>
        <source>Link to:</source>
        <translation>Lien vers :</translation>
    </message>
    <message>
        <source>Other side:</source>
        <translation>Autre côté :</translation>
    </message>
</context>
<context>
    <name>zodaru::PreviewPanel</name>
    <message>
        <source>Folder</source>
        <translation>Dossier</translation>
    </message>
    <message>
        <source>Symbolic link</source>
        <translation>Lien symbolique</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Fichier</translation>
    </message>
</context>
<context>
    <name>zodaru::BrowserSettings</name>
    <message>
        <source>Folders First</source>
        <translation>Dossiers d'abord</translation>
    </message>
    <message>
        <source>Show Hidden Files</source>
        <translation>Afficher les fichiers cachés</translation>
    </message>
</context>
</TS>
