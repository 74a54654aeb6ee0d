<?xml version="1.0" encoding="UTF-8"?>
<!-- A stylesheet in two parts, the second one beside it. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:include href="part.xsl"/>
  <xsl:template match="/">
    <html><body><h1><xsl:value-of select="rss/channel/title"/></h1><xsl:call-template name="part"/></body></html>
  </xsl:template>
</xsl:stylesheet>
