<?xml version="1.0" encoding="UTF-8"?>
<!-- A stylesheet that takes a part from outside its folder and one from the web. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:import href="@SERVER@/remote.xsl"/>
  <xsl:include href="@OUTSIDE_PART@"/>
  <xsl:template match="/">
    <html><body><h1><xsl:value-of select="rss/channel/title"/></h1></body></html>
  </xsl:template>
</xsl:stylesheet>
