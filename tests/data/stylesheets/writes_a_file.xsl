<?xml version="1.0" encoding="UTF-8"?>
<!-- A stylesheet that writes a file beside itself and one in a new folder. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="/">
    <xsl:document href="written.html" method="html"><p>written</p></xsl:document>
    <xsl:document href="made/written.html" method="html"><p>written</p></xsl:document>
    <html><body><h1><xsl:value-of select="rss/channel/title"/></h1></body></html>
  </xsl:template>
</xsl:stylesheet>
