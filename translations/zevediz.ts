<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>tz::app</name>
    <message>
        <source>Out of memory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tz::app::FolderList</name>
    <message>
        <source>The folder &quot;%1&quot; does not exist.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The folder &quot;%1&quot; cannot be opened.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tz::app::ImageViewer</name>
    <message>
        <source>View image</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tz::app::MainWindow</name>
    <message>
        <source>Small thumbnail (120 pixels)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Normal thumbnail (160 pixels)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Large thumbnail (250 pixels)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>E-mail (480 pixels)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Web small (640 pixels)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Web large (860 pixels)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Web very large (1024 pixels)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Large (1280 pixels)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Very large (1600 pixels)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preview images</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>View image</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Recent folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Special folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>My Pictures</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>My Documents</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Recent Files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Desktop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Options</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Keep original dates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Never enlarge pictures</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tovan Zevediz web site</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%v of %m</source>
        <extracomment>The progress bar: files done (%v) of the files of the run (%m).</extracomment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select all</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select output quality</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start resizing!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tovan Zevediz 2006-%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings file was damaged. It was kept as
%1
and a new one was started.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopping...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopped after %1 of %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Done: %n written to %1</source>
        <translation type="unfinished">
            <numerusform></numerusform>
        </translation>
    </message>
    <message>
        <source>Pictures are being resized. Stop and quit?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Information</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tz::app::PictureFileList</name>
    <message>
        <source>Confirm File Delete</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Are you sure you want to move &quot;%1&quot; to the trash?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&quot;%1&quot; could not be moved to the trash.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tz::app::PreviewWindow</name>
    <message>
        <source>Preview</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tz::app::WebLinks</name>
    <message>
        <source>Visit web site?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Written by the Tovan Zevediz developers</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
