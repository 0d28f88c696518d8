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
    <message>
        <source>Remove from queue</source>
        <translation>Retirer de la file</translation>
    </message>
    <message>
        <source>Move up</source>
        <translation>Monter</translation>
    </message>
    <message>
        <source>Move down</source>
        <translation>Descendre</translation>
    </message>
    <message>
        <source>Retry all failed</source>
        <translation>Réessayer tous les échecs</translation>
    </message>
    <message>
        <source>Clear finished</source>
        <translation>Effacer les terminés</translation>
    </message>
    <message>
        <source>Resume queue</source>
        <translation>Reprendre la file</translation>
    </message>
    <message>
        <source>Pause queue</source>
        <translation>Suspendre la file</translation>
    </message>
    <message>
        <source>%1 / %2 files</source>
        <translation>%1 / %2 fichiers</translation>
    </message>
    <message>
        <source>listing...</source>
        <translation>listage…</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>échec</translation>
    </message>
    <message>
        <source>Nothing left to transfer</source>
        <translation>Plus rien à transférer</translation>
    </message>
    <message>
        <source>1 file left</source>
        <translation>1 fichier restant</translation>
    </message>
    <message>
        <source>%1 files left</source>
        <translation>%1 fichiers restants</translation>
    </message>
    <message>
        <source>(more being listed)</source>
        <translation>(listage en cours)</translation>
    </message>
    <message>
        <source>%1 left</source>
        <translation>reste %1</translation>
    </message>
    <message>
        <source>Paused</source>
        <translation>En pause</translation>
    </message>
</context>
<context>
    <name>ConfirmDeletion</name>
    <message>
        <source>1 file</source>
        <translation>1 fichier</translation>
    </message>
    <message>
        <source>%1 files</source>
        <translation>%1 fichiers</translation>
    </message>
    <message>
        <source>1 folder</source>
        <translation>1 dossier</translation>
    </message>
    <message>
        <source>%1 folders</source>
        <translation>%1 dossiers</translation>
    </message>
    <message>
        <source>the %1 and %2</source>
        <translation>%1 et %2</translation>
    </message>
    <message>
        <source>the %1</source>
        <translation>%1</translation>
    </message>
    <message>
        <source>Delete &apos;%1&apos;?</source>
        <translation>Supprimer « %1 » ?</translation>
    </message>
    <message>
        <source>Delete the empty folder &apos;%1&apos;?</source>
        <translation>Supprimer le dossier vide « %1 » ?</translation>
    </message>
    <message>
        <source>Delete &apos;%1&apos; and %2 in it?</source>
        <translation>Supprimer « %1 » et son contenu : %2 ?</translation>
    </message>
    <message>
        <source>Delete these %1 entries?</source>
        <translation>Supprimer ces %1 éléments ?</translation>
    </message>
    <message>
        <source>Delete these %1 entries and %2 in them?</source>
        <translation>Supprimer ces %1 éléments et leur contenu : %2 ?</translation>
    </message>
    <message>
        <source>They go to the Trash, where you can get them back.</source>
        <translation>Ils vont dans la corbeille, d&apos;où vous pourrez les récupérer.</translation>
    </message>
    <message>
        <source>This file system has no Trash: this cannot be undone.</source>
        <translation>Ce système de fichiers n&apos;a pas de corbeille : c&apos;est définitif.</translation>
    </message>
    <message>
        <source>They are deleted on the server: this cannot be undone.</source>
        <translation>Ils sont supprimés sur le serveur : c&apos;est définitif.</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Supprimer</translation>
    </message>
</context>
<context>
    <name>EntryDeletion</name>
    <message>
        <source>A deletion is still under way.</source>
        <translation>Une suppression est encore en cours.</translation>
    </message>
    <message>
        <source>the Trash did not take it</source>
        <translation>la corbeille ne l&apos;a pas accepté</translation>
    </message>
    <message>
        <source>Stopped at &apos;%1&apos;: %2.</source>
        <translation>Arrêté à « %1 » : %2.</translation>
    </message>
    <message>
        <source>Could not list &apos;%1&apos;: nothing was deleted.</source>
        <translation>Impossible de lister « %1 » : rien n&apos;a été supprimé.</translation>
    </message>
    <message>
        <source>The server refused to delete &apos;%1&apos; (%2): stopped there, after %3 deleted.</source>
        <translation>Le serveur a refusé de supprimer « %1 » (%2) : arrêt à cet endroit, après %3 suppressions.</translation>
    </message>
    <message>
        <source>No answer from the server about &apos;%1&apos;: stopped there, after %2 deleted.</source>
        <translation>Pas de réponse du serveur pour « %1 » : arrêt à cet endroit, après %2 suppressions.</translation>
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
    <message>
        <source>Skipped</source>
        <translation>Ignoré</translation>
    </message>
    <message>
        <source>Asking...</source>
        <translation>Question posée…</translation>
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
    <name>Preview</name>
    <message>
        <source>Missing on the other side</source>
        <translation>Absent de l&apos;autre côté</translation>
    </message>
    <message>
        <source>Same size and date on the other side</source>
        <translation>Même taille et même date de l&apos;autre côté</translation>
    </message>
    <message>
        <source>Same size on the other side</source>
        <translation>Même taille de l&apos;autre côté</translation>
    </message>
    <message>
        <source>Newer than on the other side</source>
        <translation>Plus récent que de l&apos;autre côté</translation>
    </message>
    <message>
        <source>Older than on the other side</source>
        <translation>Plus ancien que de l&apos;autre côté</translation>
    </message>
    <message>
        <source>Other size on the other side</source>
        <translation>Autre taille de l&apos;autre côté</translation>
    </message>
    <message>
        <source>Another kind of entry on the other side</source>
        <translation>Autre type d&apos;élément de l&apos;autre côté</translation>
    </message>
    <message>
        <source>Also a folder on the other side</source>
        <translation>Aussi un dossier de l&apos;autre côté</translation>
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
    <name>ResumeQueueDialog</name>
    <message>
        <source>Unfinished transfers</source>
        <translation>Transferts inachevés</translation>
    </message>
    <message numerus="yes">
        <source>%n unfinished transfer(s) from an earlier session for this site. Resume them?</source>
        <translation>
            <numerusform>%n transfert inachevé d’une session précédente pour ce site. Le reprendre ?</numerusform>
            <numerusform>%n transferts inachevés d’une session précédente pour ce site. Les reprendre ?</numerusform>
        </translation>
    </message>
    <message>
        <source>Discard forgets them; files already partly moved are left where they are.</source>
        <translation>Abandonner les oublie ; les fichiers déjà en partie transférés restent où ils sont.</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Reprendre</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>Abandonner</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Plus tard</translation>
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
    <name>zodaru::BrowserEntryActions</name>
    <message>
        <source>Upload</source>
        <translation>Envoyer</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Télécharger</translation>
    </message>
    <message>
        <source>Rename…</source>
        <translation>Renommer…</translation>
    </message>
    <message>
        <source>Delete…</source>
        <translation>Supprimer…</translation>
    </message>
    <message>
        <source>New folder…</source>
        <translation>Nouveau dossier…</translation>
    </message>
    <message>
        <source>Select one entry to rename.</source>
        <translation>Sélectionnez un seul élément à renommer.</translation>
    </message>
    <message>
        <source>Rename</source>
        <translation>Renommer</translation>
    </message>
    <message>
        <source>New name for &apos;%1&apos;:</source>
        <translation>Nouveau nom pour « %1 » :</translation>
    </message>
    <message>
        <source>&apos;%1&apos; already exists there: nothing was renamed.</source>
        <translation>« %1 » existe déjà ici : rien n&apos;a été renommé.</translation>
    </message>
    <message>
        <source>Could not rename &apos;%1&apos;: %2</source>
        <translation>Impossible de renommer « %1 » : %2</translation>
    </message>
    <message>
        <source>Could not list &apos;%1&apos;: nothing was renamed.</source>
        <translation>Impossible de lister « %1 » : rien n&apos;a été renommé.</translation>
    </message>
    <message>
        <source>The server refused to rename &apos;%1&apos; (%2).</source>
        <translation>Le serveur a refusé de renommer « %1 » (%2).</translation>
    </message>
</context>
<context>
    <name>zodaru::BrowserSettings</name>
    <message>
        <source>Folders First</source>
        <translation>Dossiers d&apos;abord</translation>
    </message>
    <message>
        <source>Show Hidden Files</source>
        <translation>Afficher les fichiers cachés</translation>
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
        <source>View</source>
        <translation>Affichage</translation>
    </message>
    <message>
        <source>Transfers...</source>
        <translation>Transferts...</translation>
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
        <source>The server accepts no more than %1 connections: transfers go on with %2 at a time.</source>
        <translation>Le serveur n’accepte pas plus de %1 connexions : les transferts continuent à %2 à la fois.</translation>
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
    <name>zodaru::SiteActions</name>
    <message>
        <source>The site file %1 could not be read; it is left as it is, and the sites are not saved until it is repaired or moved away.</source>
        <translation>Le fichier des sites %1 n’a pas pu être lu ; il est laissé tel quel, et les sites ne sont pas enregistrés tant qu’il n’est pas réparé ou déplacé.</translation>
    </message>
    <message>
        <source>The site file %1 could not be written.</source>
        <translation>Le fichier des sites %1 n’a pas pu être écrit.</translation>
    </message>
    <message>
        <source>The settings file %1 could not be written.</source>
        <translation>Le fichier de réglages %1 n’a pas pu être écrit.</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Mot de passe</translation>
    </message>
    <message>
        <source>No keyring is available to keep the password of %1.</source>
        <translation>Aucun trousseau n’est disponible pour garder le mot de passe de %1.</translation>
    </message>
    <message>
        <source>Keep it in the site file, where it is stored unencrypted, or ask for it at each connect?</source>
        <translation>Le garder dans le fichier des sites, où il est enregistré sans chiffrement, ou le demander à chaque connexion ?</translation>
    </message>
    <message>
        <source>Keep in the File</source>
        <translation>Garder dans le fichier</translation>
    </message>
    <message>
        <source>Ask at Each Connect</source>
        <translation>Demander à chaque connexion</translation>
    </message>
    <message>
        <source>Password of %1:</source>
        <translation>Mot de passe de %1 :</translation>
    </message>
    <message>
        <source>The local directory %1 was not found.</source>
        <translation>Le dossier local %1 est introuvable.</translation>
    </message>
    <message>
        <source>The remote directory %1 was not found.</source>
        <translation>Le dossier distant %1 est introuvable.</translation>
    </message>
    <message>
        <source>Save Site</source>
        <translation>Enregistrer le site</translation>
    </message>
    <message>
        <source>Save %1 as a site?</source>
        <translation>Enregistrer %1 comme site ?</translation>
    </message>
    <message>
        <source>Saved sites are listed under Bookmarks and in the connection dialog.</source>
        <translation>Les sites enregistrés se trouvent sous Signets et dans la fenêtre de connexion.</translation>
    </message>
    <message>
        <source>The site file %1 could not be read; it is left as it is.</source>
        <translation>Le fichier des sites %1 n’a pas pu être lu ; il est laissé tel quel.</translation>
    </message>
    <message>
        <source>Passwords</source>
        <translation>Mots de passe</translation>
    </message>
    <message numerus="yes">
        <source>%n saved site(s) keep their password unencrypted in the site file. Move the passwords into the desktop&apos;s keyring?</source>
        <translation>
            <numerusform>%n site enregistré garde son mot de passe sans chiffrement dans le fichier des sites. Déplacer les mots de passe dans le trousseau du bureau ?</numerusform>
            <numerusform>%n sites enregistrés gardent leur mot de passe sans chiffrement dans le fichier des sites. Déplacer les mots de passe dans le trousseau du bureau ?</numerusform>
        </translation>
    </message>
    <message>
        <source>The site file then keeps an empty password for them.</source>
        <translation>Le fichier des sites garde alors un mot de passe vide pour eux.</translation>
    </message>
    <message numerus="yes">
        <source>%n password(s) could not be moved into the keyring; they stay in the site file.</source>
        <translation>
            <numerusform>%n mot de passe n’a pas pu être déplacé dans le trousseau ; il reste dans le fichier des sites.</numerusform>
            <numerusform>%n mots de passe n’ont pas pu être déplacés dans le trousseau ; ils restent dans le fichier des sites.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>zodaru::SiteManager</name>
    <message>
        <source>Sites</source>
        <translation>Sites</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Ajouter</translation>
    </message>
    <message>
        <source>Duplicate</source>
        <translation>Dupliquer</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Supprimer</translation>
    </message>
    <message>
        <source>host, host:port, ftp://, ftpes:// or ftps://host</source>
        <translation>hôte, hôte:port, ftp://, ftpes:// ou ftps://hôte</translation>
    </message>
    <message>
        <source>/ (the server&apos;s first directory)</source>
        <translation>/ (le premier dossier du serveur)</translation>
    </message>
    <message>
        <source>as it is</source>
        <translation>tel quel</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Se connecter</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Nom :</translation>
    </message>
    <message>
        <source>Server:</source>
        <translation>Serveur :</translation>
    </message>
    <message>
        <source>Login:</source>
        <translation>Identifiant :</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Mot de passe :</translation>
    </message>
    <message>
        <source>Remote directory:</source>
        <translation>Dossier distant :</translation>
    </message>
    <message>
        <source>Local directory:</source>
        <translation>Dossier local :</translation>
    </message>
    <message>
        <source>The site file %1 could not be read; it is left as it is, and the sites are not saved until it is repaired or moved away.</source>
        <translation>Le fichier des sites %1 n’a pas pu être lu ; il est laissé tel quel, et les sites ne sont pas enregistrés tant qu’il n’est pas réparé ou déplacé.</translation>
    </message>
    <message>
        <source>kept in the keyring</source>
        <translation>gardé dans le trousseau</translation>
    </message>
    <message>
        <source>asked at each connect</source>
        <translation>demandé à chaque connexion</translation>
    </message>
    <message>
        <source>New site</source>
        <translation>Nouveau site</translation>
    </message>
    <message>
        <source>%1 (copy)</source>
        <translation>%1 (copie)</translation>
    </message>
    <message>
        <source>Remove Site</source>
        <translation>Supprimer le site</translation>
    </message>
    <message>
        <source>Remove the site &quot;%1&quot;?</source>
        <translation>Supprimer le site « %1 » ?</translation>
    </message>
    <message>
        <source>&quot;%1&quot; names no server.</source>
        <translation>« %1 » ne désigne aucun serveur.</translation>
    </message>
</context>
<context>
    <name>zodaru::TransferSettingsDialog</name>
    <message>
        <source>Transfer settings</source>
        <translation>Réglages des transferts</translation>
    </message>
    <message>
        <source>Connections per direction</source>
        <translation>Connexions par sens</translation>
    </message>
    <message>
        <source>Download limit</source>
        <translation>Limite de téléchargement</translation>
    </message>
    <message>
        <source>Upload limit</source>
        <translation>Limite d’envoi</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source> KiB/s</source>
        <translation> Kio/s</translation>
    </message>
    <message>
        <source>No limit</source>
        <translation>Sans limite</translation>
    </message>
</context>
</TS>
