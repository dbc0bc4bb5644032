<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>MainDialog</name>
    <message>
        <source>%1: permission denied</source>
        <translation>%1: Zugriff verweigert</translation>
    </message>
    <message>
        <source>Pravex Controller</source>
        <translation>Pravex-Controller</translation>
    </message>
    <message>
        <source>Lunari Controller</source>
        <translation>Lunari-Controller</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation>Aktiviert</translation>
    </message>
    <message>
        <source>N/A</source>
        <translation>N/A</translation>
    </message>
    <message>
        <source>Calibration</source>
        <translation>Kalibrierung</translation>
    </message>
    <message>
        <source>Calibrate</source>
        <translation>Kalibrieren</translation>
    </message>
    <message>
        <source>Test</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>Graph</source>
        <translation>Signalbild</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Product Name</source>
        <translation>Produktname</translation>
    </message>
    <message>
        <source>Pravex</source>
        <translation>Pravex</translation>
    </message>
    <message>
        <source>Lunari</source>
        <translation>Lunari</translation>
    </message>
    <message>
        <source>Firmware Version</source>
        <translation>Firmware-Version</translation>
    </message>
    <message>
        <source>n/a</source>
        <translation>n/a</translation>
    </message>
    <message>
        <source>Driver Version</source>
        <translation>Treiberversion</translation>
    </message>
    <message>
        <source>Touch Points</source>
        <translation>Berührungspunkte</translation>
    </message>
    <message>
        <source>Layout</source>
        <translation>Sensoranordnung</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
</context>
<context>
    <name>CalibrateArea</name>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Normal mode</source>
        <translation>Vollbildmodus</translation>
    </message>
    <message>
        <source>Erea mode</source>
        <translation>Bereichsmodus</translation>
    </message>
    <message>
        <source> use the left
 button to draw
 touch area</source>
        <translation> Mit der linken
 Maustaste den
 Touch-Bereich ziehen</translation>
    </message>
    <message>
        <source>area is too small!</source>
        <translation>Der Bereich ist zu klein!</translation>
    </message>
    <message>
        <source>Calibrate exception!</source>
        <translation>Fehler bei der Kalibrierung!</translation>
    </message>
    <message>
        <source>The whole-desktop calibration cannot be shown: its targets would lie between the monitors. Use &quot;Erea mode&quot; and draw the touch area on the touch screen.</source>
        <translation>Die Kalibrierung des ganzen Desktops kann nicht angezeigt werden: ihre Zielpunkte lägen zwischen den Monitoren. Wählen Sie &quot;Bereichsmodus&quot; und zeichnen Sie den Touch-Bereich auf dem Touchscreen.</translation>
    </message>
</context>
<context>
    <name>Graph</name>
    <message>
        <source>Test</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>Graph</source>
        <translation>Signalbild</translation>
    </message>
    <message>
        <source>Threshold:</source>
        <translation>Schwellwert:</translation>
    </message>
    <message>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <source>+</source>
        <translation>+</translation>
    </message>
</context>
<context>
    <name>Message</name>
    <message>
        <source>Prompt</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>save the area?</source>
        <translation>Bereich speichern?</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>Prompt</name>
    <message>
        <source>Prompt</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
</TS>
